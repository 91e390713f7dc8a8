// The command line of tilvane-census: GNU-style long options, each with its
// value as the next argument or after '='.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "census/exploration.h"
#include "engine/decision_search.h"
#include "engine/moduli_decision.h"

namespace tilvane {

// --checkpoint none: the run keeps no checkpoint (a file of that name is
// given as ./none).
inline constexpr std::string_view kNoCheckpoint = "none";

struct CensusOptions {
  enum class Action { Explore, Estimate, Merge, Moduli, LeastLcm, Help, Version };
  Action action = Action::Explore;
  ExplorationPlan plan;
  bool sample_given = false;
  std::uint64_t sample_time_s = 0;  // --estimate: sample for this long (0: a fixed sample)
  std::string output;               // empty: none
  // empty: OUTPUT.checkpoint when there is an output, else a name in the
  // current folder; kNoCheckpoint: none (a stopped run starts over)
  std::string checkpoint;
  std::string covers;  // empty: none
  bool json = false;
  std::size_t threads = 0;                   // 0: one per available CPU
  std::uint64_t checkpoint_interval_s = 60;  // seconds between checkpoints
  std::uint64_t progress_interval_s = 60;    // seconds between progress lines in a log
  std::uint64_t rank_timeout_s = 120;        // cluster runs: silence that means a dead rank
  std::uint64_t chunk_limit = 1024;          // cluster runs: candidates per thread in a chunk
  DecisionOptions decision;                  // --without switches techniques off
  std::vector<std::string> part_lists;       // --merge: the parts' lists
  // --moduli, --moduli-file, --divisors-of and --least-lcm: one moduli set
  // decided, or the least LCM for a least modulus.
  std::vector<std::uint64_t> moduli;  // --moduli
  std::string moduli_file;            // --moduli-file
  std::uint64_t divisors_of = 0;      // --divisors-of L (with --min-modulus)
  std::uint64_t min_modulus = 0;      // --min-modulus
  std::string proof;                  // --proof FILE: the refutation trace
  ModuliOptions moduli_search;        // --without switches its techniques off too
};

// Reads the arguments after the program name. Fails with a one-line
// description of the first fault; --help and --version win over everything
// after them.
Result<CensusOptions> parse_census_options(std::span<const std::string_view> args);

// The usage text, ending in a line feed.
std::string census_usage(std::string_view program);

}  // namespace tilvane
