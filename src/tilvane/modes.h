// The census modes the command line offers, and the usage text that lists
// them. Any first argument that names no census mode is a candidate path.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "base/result.h"
#include "census/census_progress.h"
#include "census/census_table.h"

namespace tilvane {

inline constexpr std::uint64_t kDefaultMaxNodes = 50000000;

// The census mode whose option is exactly name, or nullptr. The reduced
// program has no modes beyond "--verify-k8-census".
const CensusSize* find_census_mode(std::string_view name);

// Runs the census: report lines go to out, the count of candidates decided to
// progress.
Status run_census_mode(const CensusSize& census, std::uint64_t max_nodes, std::ostream& out,
                       CensusProgress& progress);

// The usage text: one line per command shape, then the candidate format, with
// the program name in every shape and no line feed after the last line.
std::string usage_text(std::string_view program);

}  // namespace tilvane
