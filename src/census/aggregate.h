// The census aggregate: the candidate count and the extrema of the found sets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/fraction.h"
#include "base/moduli_set_list.h"
#include "base/result.h"

namespace tilvane {

struct CensusAggregate {
  std::size_t candidates = 0;
  // The smallest and greatest last element over the found sets; absent when
  // nothing was found.
  std::optional<std::uint64_t> min_largest_modulus;
  std::optional<std::uint64_t> max_largest_modulus;
  // The greatest sum of reciprocals of one found set; 0/1 when nothing was
  // found.
  Fraction max_reciprocal_sum;
  friend bool operator==(const CensusAggregate&, const CensusAggregate&) = default;
};

// The error texts of one census mode for the two ways the aggregate can fail.
struct AggregateMessages {
  std::string_view reciprocal_sum_overflow;  // e.g. "reciprocal-sum overflow in k=8 answers"
  std::string_view comparison_overflow;      // e.g. "k=8 fraction comparison overflow"
};

// The aggregate of a found list. Among equal reciprocal sums the earliest set
// keeps the maximum. Fails with one of the given messages when a reciprocal
// sum or a comparison overflows 128 bits.
Result<CensusAggregate> aggregate_found_sets(std::span<const ModuliSet> found,
                                             std::size_t candidate_count,
                                             const AggregateMessages& messages);

}  // namespace tilvane
