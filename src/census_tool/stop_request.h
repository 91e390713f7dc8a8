// The request to stop a run: SIGINT (Ctrl-C), SIGTERM (a batch system's
// time limit, scancel) and SIGHUP (a closed terminal, a dropped ssh) all
// ask the run to stop at once and write its checkpoint. The handlers stay
// installed, so a second signal while the checkpoint is written changes
// nothing: a batch system sends SIGTERM, SIGCONT and SIGTERM again within
// milliseconds at a time limit, and an impatient user presses Ctrl-C twice.
#pragma once

#include <atomic>

namespace tilvane {

// Installs the handlers (again: no harm). A process installs them first
// thing, so that a signal during its start is a request to stop, not its
// death.
void install_stop_handlers();

// The line written to standard error as the first signal arrives (from the
// handler itself, so it shows even while every thread is busy): a string
// literal, or nullptr for none (the default).
void set_stop_notice(const char* notice);

// True once a stop was asked for, by a signal or by request_stop.
bool stop_requested();

// The flag the decision searches poll (DecisionOptions::stop): set, it
// makes every running search end within milliseconds.
const std::atomic<bool>* stop_flag();

// Asks for a stop as a signal does, without the notice (a cluster job
// stopping because another rank was asked to).
void request_stop();

}  // namespace tilvane
