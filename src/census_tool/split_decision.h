// Deciding one moduli set on several threads, with a checkpoint and a trace
// streamed to disk. The search is split into independent subproblems
// (split_moduli), which a pool of workers decides, each with the remaining
// budget. The answer is read in the frontier's order: the first subproblem
// that covers gives the covering, the first that runs out of nodes (or
// after which the nodes add up to more than the budget) makes the answer
// undecided, and when every subproblem is refuted there is no covering.
// Subproblems after such a first one are not needed and are given up, so
// the outcome, the node count and the trace are the same for any number of
// workers.
//
// The trace of each refuted subproblem goes to its own file in a folder of
// trace pieces beside the proof; for a refutation the proof file is then
// assembled, in depth-first order, from the trace above the frontier with
// each piece in its place, and the pieces are removed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "census_tool/message_link.h"
#include "census_tool/trace_pieces.h"
#include "cli/output_paths.h"
#include "engine/moduli_decision.h"

namespace tilvane {

// Subproblems a split aims at: the same for every number of workers, and
// plenty for a few dozen of them.
inline constexpr std::size_t kSplitTarget = 1024;

struct SplitSettings {
  std::uint64_t max_nodes = UINT64_MAX;
  ModuliOptions options;
  std::size_t threads = 1;
  std::size_t target = kSplitTarget;
  // The proof file, written only for a refutation; nullptr: no trace.
  const OutputFile* proof = nullptr;
  // The checkpoint, read when it is there and written every
  // checkpoint_interval and on a stop; nullptr: none.
  const OutputFile* checkpoint = nullptr;
  // Lines that name the run in the checkpoint (version, set, options,
  // budget), each ended by a line feed.
  std::string run_name;
  std::chrono::milliseconds checkpoint_interval{60000};
  // Told a progress line (without line feed) every progress_interval.
  std::function<void(std::string_view)> progress;
  std::chrono::milliseconds progress_interval{60000};
  // Polled often; true stops the run (outcome Stopped, checkpoint written).
  std::function<bool()> stop;
  // Told of a resumed run ("resuming from ...").
  std::function<void(std::string_view)> note;
  // A cluster run: every rank splits the search alike and decides the
  // subproblems whose number leaves its rank modulo ranks; the others send
  // each result, with its trace piece, to rank 0, which alone keeps the
  // checkpoint and writes the proof, so the answer and the proof are those
  // of a single process. Rank 0 tells the others how far the answer needs
  // them, when to stop, and the outcome.
  struct Cluster {
    int rank = 0;
    int ranks = 1;
    MessageLink* link = nullptr;  // rank 0 hears every rank; others talk to rank 0
    bool traced = false;          // a proof is written (on rank 0)
    // Set once this rank has heard (or, on rank 0, told) the outcome; a run
    // that ends without it must say so to the others (send_unsettled).
    bool settled = false;
  };
  Cluster* cluster = nullptr;
};

struct SplitResult {
  // The counts of the whole search; Stopped when stopped before the answer.
  ModuliDecision decision;
  std::size_t subproblems = 0;
  bool checkpoint_written = false;  // a stopped run left its checkpoint
};

Result<SplitResult> decide_split(std::span<const std::uint64_t> moduli,
                                 const SplitSettings& settings);

// For a rank whose run ended before its cluster settled the outcome (a
// failure, or an end before the search): rank 0 tells the others to give
// up (status 75: stopped), another rank tells rank 0 why it failed.
void send_unsettled(SplitSettings::Cluster& cluster, const Result<int>& status);

}  // namespace tilvane
