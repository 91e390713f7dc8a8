// A computing rank of a cluster run: it says hello, then decides the chunks
// the coordinator hands it on its own worker threads and sends back their
// outcomes, until the coordinator ends the job. Its workers never wait for
// one another: each takes the next candidate the rank holds as soon as it is
// free, and the rank asks for a further chunk while it still has work left,
// so that the reply arrives before the workers run out. The same loop runs
// in every process other than rank 0 and on a thread of rank 0 itself, so
// rank 0's cores compute too.
#pragma once

#include <chrono>
#include <functional>
#include <span>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/exploration.h"
#include "census/work_list.h"
#include "census/worker_pool.h"
#include "census_tool/message_link.h"

namespace tilvane {

struct RankWorkerSettings {
  ExplorationPlan plan;  // announced in the hello, for the coordinator to compare
  // While deciding, a heartbeat goes to the coordinator this often.
  std::chrono::milliseconds heartbeat_interval{10000};
  // Polled while deciding and while waiting; once it answers true the rank
  // tells the coordinator, which then stops the whole job.
  std::function<bool()> stop_requested;
  // Called when the job stops (the coordinator halts it): makes the
  // decider's running searches end at once, their candidates undecided.
  std::function<void()> abandon_searches;
};

// Runs the rank until the coordinator ends the job and returns the exit
// status it gave. A decision that fails is reported to the coordinator
// ("fail") and returned as the error; so is a text from the coordinator that
// does not parse or does not fit, and a chunk outside the work list.
Result<int> run_rank_worker(MessageLink& link, WorkerPool& pool, const Decider& decider,
                            const WorkList& work, const RankWorkerSettings& settings);
// The same over sets held in memory.
Result<int> run_rank_worker(MessageLink& link, WorkerPool& pool, const Decider& decider,
                            std::span<const ModuliSet> work, const RankWorkerSettings& settings);

}  // namespace tilvane
