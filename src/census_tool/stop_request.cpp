#include "census_tool/stop_request.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

namespace tilvane {
namespace {

// Written by the handler, read by every thread; a lock-free atomic is safe
// to store to from a signal handler.
std::atomic<bool> stopping{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The notice, set while the handlers may already run: a pointer to a
// string literal, stored and loaded whole.
std::atomic<const char*> notice_text{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);
std::atomic<bool> noticed{false};

extern "C" void on_stop_signal(int) {
  const int saved_errno = errno;
  stopping.store(true, std::memory_order_relaxed);
  const char* notice = notice_text.load(std::memory_order_relaxed);
  if (notice != nullptr && !noticed.exchange(true, std::memory_order_relaxed)) {
    // One write of a few dozen bytes; its result does not matter.
    const ssize_t written = ::write(STDERR_FILENO, notice, std::strlen(notice));
    (void)written;
  }
  errno = saved_errno;
}

}  // namespace

void install_stop_handlers() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  // Not SA_RESETHAND: the handler must stay for the next signal. SA_RESTART
  // lets the checkpoint's writes go on through a second signal.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  // SIGUSR1 too: mpirun forwards it to every rank, where SIGTERM and SIGINT
  // make mpirun end the job and report 1 whatever the ranks exit with.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaction(signal, &action, nullptr);
}

void set_stop_notice(const char* notice) {
  // After a progress line on a terminal, which is rewritten in place and
  // ends in no line feed, the notice starts a line of its own.
  if (notice != nullptr && ::isatty(STDERR_FILENO) == 1) {
    static const std::string on_terminal = std::string("\n") + notice;
    notice = on_terminal.c_str();
  }
  notice_text.store(notice, std::memory_order_relaxed);
  // A signal that came before there was a notice to give is told now.
  if (notice != nullptr && stopping.load(std::memory_order_relaxed) &&
      !noticed.exchange(true, std::memory_order_relaxed)) {
    const ssize_t written = ::write(STDERR_FILENO, notice, std::strlen(notice));
    (void)written;
  }
}

bool stop_requested() { return stopping.load(std::memory_order_relaxed); }

const std::atomic<bool>* stop_flag() { return &stopping; }

void request_stop() { stopping.store(true, std::memory_order_relaxed); }

}  // namespace tilvane
