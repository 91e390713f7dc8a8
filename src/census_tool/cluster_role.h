// The part a process plays in a cluster run of tilvane-census. Rank 0
// coordinates: it alone reads and writes the checkpoint and every output, and
// its own worker threads compute beside the other ranks. Every other rank
// only computes. The message passing behind it lives with the program's
// entry point, so that nothing else links the cluster's library.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/exploration.h"
#include "census/exploration_driver.h"
#include "census/work_list.h"
#include "census/worker_pool.h"

namespace tilvane {

class MessageLink;

struct ClusterJob {
  ExplorationPlan plan;
  // Rank 0 takes a rank that owes it a message and has been silent this
  // long for dead; the ranks send heartbeats well within it.
  std::chrono::milliseconds rank_timeout{120000};
  // The most candidates a chunk holds per worker thread of its rank.
  std::uint64_t chunk_limit = 64;
  // True once this process was asked to stop (SIGINT, SIGTERM, SIGHUP).
  std::function<bool()> stop_requested;
  // Makes this process's running searches end at once (when the job stops
  // because another rank was asked to).
  std::function<void()> abandon_searches;
};

class ClusterRole {
 public:
  virtual ~ClusterRole() = default;

  virtual bool coordinates() const = 0;

  // Rank 0: decides the open part of the work list over every rank, its own
  // pool included, with the hooks of drive_exploration. Fails at once when
  // another rank could not start.
  virtual Result<DriveEnd> drive(WorkerPool& pool, const Decider& decider, const WorkList& work,
                                 ExplorationLedger& ledger, const DriveHooks& hooks,
                                 const ClusterJob& job) = 0;
  // Rank 0, after drive: the worker threads of every rank together.
  virtual std::uint64_t workers() const = 0;
  // The processes of the job, rank 0 included.
  virtual std::uint64_t ranks() const = 0;

  // Every other rank: computes until rank 0 ends the job, and returns the
  // status it ended it with (1 without a word when rank 0 or another rank
  // could not start, since they report it).
  virtual Result<int> compute(WorkerPool& pool, const Decider& decider, const WorkList& work,
                              const ClusterJob& job) = 0;

  // This process's rank, and its link to the others for runs that exchange
  // texts of their own (a moduli decision): rank 0 hears every rank, every
  // other rank talks to rank 0; only the main thread may use it.
  virtual int rank() const { return 0; }
  virtual MessageLink* link() { return nullptr; }

  // The end of this process's run: given what the run came to, settles the
  // job with the other ranks and returns what this process reports (an
  // error to print, or a status). Called once, after the run.
  virtual Result<int> conclude(Result<int> run) = 0;
};

}  // namespace tilvane
