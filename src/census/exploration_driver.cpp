#include "census/exploration_driver.h"

#include <atomic>
#include <mutex>
#include <optional>

#include "base/text_format.h"
#include "census/checkpoint_pacer.h"

namespace tilvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPollInterval{100};

// Brings copy up to tally, an earlier state of which it holds. The ledger
// only appends found and undecided sets, so only those that came since are
// copied: the workers wait for this copy, and a part at k = 14 holds
// millions of sets.
void catch_up(ExplorationTally& copy, const ExplorationTally& tally) {
  if (copy.found.size() > tally.found.size() || copy.undecided.size() > tally.undecided.size()) {
    copy = tally;
    return;
  }
  copy.decided = tally.decided;
  copy.dropped = tally.dropped;
  copy.searched = tally.searched;
  copy.nodes = tally.nodes;
  const auto found_from = static_cast<std::ptrdiff_t>(copy.found.size());
  copy.found.insert(copy.found.end(), tally.found.begin() + found_from, tally.found.end());
  const auto undecided_from = static_cast<std::ptrdiff_t>(copy.undecided.size());
  copy.undecided.insert(copy.undecided.end(), tally.undecided.begin() + undecided_from,
                        tally.undecided.end());
}

}  // namespace

// The ledger is not thread-safe; one lock guards it and the first error.
// Each worker records its outcome under the lock, which costs little next
// to a decision. The calling thread copies the tally under the same lock for
// a checkpoint and writes the copy after letting go of it.
Result<DriveEnd> drive_exploration(WorkerPool& pool, const Decider& decider, const WorkList& work,
                                   ExplorationLedger& ledger, const DriveHooks& hooks) {
  const std::uint64_t first = ledger.next();
  const std::size_t open = static_cast<std::size_t>(ledger.count() - first);
  std::mutex lock;
  std::optional<Error> failure;
  std::atomic<bool> halt{false};
  // The candidates are read in order by whichever worker is free; each task
  // takes the next one.
  std::mutex reading;
  auto reader = work.read_from(first);
  if (!reader) return std::move(reader).take_error();
  std::uint64_t next_position = first;

  const auto task = [&](std::size_t) {
    if (halt.load(std::memory_order_relaxed)) return;
    ModuliSet candidate;
    std::uint64_t position = 0;
    {
      std::lock_guard guard(reading);
      position = next_position++;
      if (!(*reader)->next(candidate)) {
        std::lock_guard failing(lock);
        if (!failure) failure = fail(cat("work list ends before candidate ", position));
        halt.store(true, std::memory_order_relaxed);
        return;
      }
    }
    // Read only for an estimate; a CPU clock would be a system call per
    // read, as dear as deciding a cheap candidate.
    const bool timed = hooks.durations != nullptr;
    const auto start = timed ? Clock::now() : Clock::time_point{};
    auto outcome = decider.decide(candidate);
    const double took = timed ? std::chrono::duration<double>(Clock::now() - start).count() : 0.0;
    // A search ended by a stop request leaves its candidate open: the tally
    // stops short of it, so a resumed run decides it again.
    if (outcome && outcome->kind == CandidateKind::Abandoned) {
      halt.store(true, std::memory_order_relaxed);
      return;
    }
    std::lock_guard guard(lock);
    if (timed) (*hooks.durations)[position] = took;
    Status recorded = outcome ? ledger.record(position, std::move(*outcome))
                              : Status(std::move(outcome).take_error());
    if (!recorded && !failure) {
      failure = std::move(recorded).take_error();
      halt.store(true, std::memory_order_relaxed);
    }
  };

  CheckpointPacer pacer(hooks.checkpoint_interval, Clock::now());
  ExplorationTally snapshot;
  const auto while_waiting = [&] {
    bool saving = false;
    std::uint64_t done = 0;
    std::uint64_t found = 0;
    const auto began = Clock::now();
    {
      std::lock_guard guard(lock);
      done = ledger.next();
      found = ledger.tally().found.size();
      if (hooks.save_checkpoint && pacer.due(began)) {
        catch_up(snapshot, ledger.tally());
        saving = true;
      }
    }
    if (hooks.progress != nullptr) {
      hooks.progress->found(found);
      hooks.progress->advanced(done);
    }
    if (hooks.stop_requested && hooks.stop_requested()) halt.store(true, std::memory_order_relaxed);
    if (saving) {
      Status saved = hooks.save_checkpoint(snapshot);
      pacer.saved(began, Clock::now());
      std::lock_guard guard(lock);
      if (!saved && !failure) {
        failure = std::move(saved).take_error();
        halt.store(true, std::memory_order_relaxed);
      }
    }
  };

  // A halt ends the job at once, however much of the list is left.
  const double cpu_before = hooks.durations != nullptr ? process_cpu_seconds() : 0.0;
  pool.for_each_index(open, task, kPollInterval, while_waiting, &halt);
  if (failure) return std::move(*failure);
  if (hooks.durations != nullptr) {
    const double cpu = process_cpu_seconds() - cpu_before;
    const auto from = hooks.durations->begin() + static_cast<std::ptrdiff_t>(first);
    double wall = 0;
    for (auto at = from; at != hooks.durations->end(); ++at) wall += *at;
    if (wall > 0) {
      for (auto at = from; at != hooks.durations->end(); ++at) *at *= cpu / wall;
    }
  }
  if (hooks.progress != nullptr) {
    hooks.progress->found(ledger.tally().found.size());
    hooks.progress->advanced(ledger.next());
  }
  return ledger.complete() ? DriveEnd::Complete : DriveEnd::Stopped;
}

Result<DriveEnd> drive_exploration(WorkerPool& pool, const Decider& decider,
                                   std::span<const ModuliSet> work, ExplorationLedger& ledger,
                                   const DriveHooks& hooks) {
  return drive_exploration(pool, decider, *set_work(work), ledger, hooks);
}

}  // namespace tilvane
