// tilvane-census: explores a census space and writes what it finds. The
// steps (load or start the tally, decide the open candidates, write the
// outputs and the summary) are functions of their own so that the cluster
// run can share them.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "census/census_progress.h"
#include "census/exploration.h"
#include "census_tool/cluster_role.h"
#include "census_tool/options.h"

namespace tilvane {

// Exit statuses a batch script acts on: done; failed; finished with
// candidates left undecided (a larger budget decides them); stopped with a
// checkpoint, so that running the same command again resumes. 75 is the
// conventional status of a temporary failure, which no launcher uses for
// failures of its own.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitIncomplete = 2;
inline constexpr int kExitStopped = 75;

// What a finished run reports, besides the tally.
struct RunFacts {
  std::uint64_t space_candidates = 0;  // before sampling
  std::uint64_t whole_work = 0;        // the positions of the whole work list
  std::uint64_t merged_parts = 0;      // a merge: how many parts; 0 otherwise
  std::uint64_t elapsed_ms = 0;        // every run of this census together
  std::size_t workers = 0;             // worker threads of every process
  std::size_t ranks = 1;               // processes of a cluster run
  std::string simd_level;
  std::string undecided_file;  // empty: none written
};

// The summary a person reads, and the same as one JSON object (with a line
// feed after it).
std::string render_summary(const ExplorationPlan& plan, const ExplorationTally& tally,
                           const ExplorationExtrema& extrema, const RunFacts& facts);
std::string render_summary_json(const ExplorationPlan& plan, const ExplorationTally& tally,
                                const ExplorationExtrema& extrema, const RunFacts& facts);

// Runs the command line (arguments after the program name). The summary
// goes to out, or to log when the list goes to out (a run without
// --output); a resume is told on log. Returns the exit status for a run that got as far as deciding
// (done, or incomplete), or the error text of a failure. With a cluster role
// the run is one process of a cluster job: rank 0 runs it as a single
// process would, spreading the decisions over every rank; any other rank
// only decides what rank 0 hands it and writes nothing.
// Progress goes to progress_fd (none when negative): a line redrawn in place
// on a terminal, plain log lines at --progress-interval otherwise.
Result<int> run_census_tool(std::span<const std::string_view> args, std::ostream& out,
                            std::ostream& log, int progress_fd, ClusterRole* cluster = nullptr);

// What main does: standard output checked, errors as "tilvane-census: {}" on
// standard error with status 1, progress on a terminal. A rank other than
// rank 0 of a cluster job writes no summary and shows no progress.
int census_tool_main(int argc, char** argv, ClusterRole* cluster = nullptr);

}  // namespace tilvane
