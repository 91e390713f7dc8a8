// Running an exploration on the worker pool of this process: the workers
// decide the open part of the work list, every outcome goes to the ledger,
// and the calling thread shows progress, saves checkpoints and watches for
// a request to stop.
#pragma once

#include <chrono>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/census_progress.h"
#include "census/exploration.h"
#include "census/work_list.h"
#include "census/worker_pool.h"

namespace tilvane {

struct DriveHooks {
  // Told the position reached (candidates decided from the start of the
  // work list) and the sets found so far; none when null.
  CensusProgress* progress = nullptr;
  // Polled a few times a second on the calling thread; once it answers true
  // no further candidate is started, and the drive ends when the running
  // ones are done, or abandoned (a decider whose searches poll a stop flag
  // answers CandidateKind::Abandoned, which is not recorded).
  std::function<bool()> stop_requested;
  // Called on the calling thread with the tally every interval while the
  // workers run, or further apart once a checkpoint costs more than a
  // fiftieth of the interval (checkpoint_pacer.h); a failure ends the drive
  // with that error.
  std::chrono::milliseconds checkpoint_interval{60000};
  std::function<Status(const ExplorationTally&)> save_checkpoint;
  // When set (sized to the work list), the CPU seconds each candidate took:
  // its wall time on a steady clock, which costs far less to read than a
  // CPU clock, scaled so that the drive's candidates add up to the CPU time
  // the process spent in the drive (which also counts reading the work list
  // and recording outcomes, and leaves out the time a busy machine gives to
  // others).
  std::vector<double>* durations = nullptr;
};

enum class DriveEnd { Complete, Stopped };

// Decides every position from ledger.next() on. The first error of a
// decision or of the ledger ends the drive (the candidates running finish
// first) and is returned.
Result<DriveEnd> drive_exploration(WorkerPool& pool, const Decider& decider, const WorkList& work,
                                   ExplorationLedger& ledger, const DriveHooks& hooks);
// The same over sets held in memory.
Result<DriveEnd> drive_exploration(WorkerPool& pool, const Decider& decider,
                                   std::span<const ModuliSet> work, ExplorationLedger& ledger,
                                   const DriveHooks& hooks);

}  // namespace tilvane
