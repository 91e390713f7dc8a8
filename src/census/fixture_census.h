// The closing checks and report of the census for k = 8 to 11, which compare
// the found sets with an embedded fixture and the aggregate with compiled-in
// figures. The sequential census for k = 8 and the parallel census for k = 9
// to 11 share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/aggregate.h"

namespace tilvane {

// The figures a fixture census must reproduce.
struct FixtureCensusFigures {
  std::size_t k = 0;
  CensusAggregate expected_aggregate;
  // The words of the PASS line after "k={k} ", e.g. "common-multiple census".
  std::string_view census_kind;
};

// The figures for k = 8 to 11 (k = 8 only in the reduced build); nothing for
// any other k.
std::optional<FixtureCensusFigures> fixture_census_figures(std::size_t k);

// "k={k} census node counter overflow".
std::string census_node_overflow_message(std::size_t k);

// Compares the found list with the expected list position by position
// ("k={k} census mismatch: computed {} sets, expected {}"), then the aggregate
// of the found list with the expected one ("k={k} aggregate mismatch:
// candidates={}, min={}, max={}, reciprocal={}", after the mode's overflow
// texts). On success returns the three report lines, each with its line
// feed: the census line, the extrema line and the PASS line.
Result<std::string> fixture_census_report(const FixtureCensusFigures& figures,
                                          std::span<const ModuliSet> found,
                                          std::span<const ModuliSet> expected,
                                          std::size_t candidate_count, std::uint64_t nodes);

}  // namespace tilvane
