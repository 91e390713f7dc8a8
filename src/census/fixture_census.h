// The closing checks and report of a census that compares its found sets with
// an embedded fixture and its aggregate with the census table. The sequential
// census for k = 8 and the parallel census for k = 9 to 11 share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/census_table.h"

namespace tilvane {

// Compares the found list with the expected list position by position
// ("k={k} census mismatch: computed {} sets, expected {}"), then the aggregate
// of the found list with the census's figures (check_aggregate). On success
// returns the three report lines, each with its line feed: the census line,
// the extrema line and the PASS line.
Result<std::string> fixture_census_report(const CensusSize& census,
                                          std::span<const ModuliSet> found,
                                          std::span<const ModuliSet> expected,
                                          std::size_t candidate_count, std::uint64_t nodes);

}  // namespace tilvane
