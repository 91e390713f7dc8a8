#include "census/aggregate.h"

#include <algorithm>
#include <string>

namespace tilvane {

// One pass over the found list in order. The reciprocal sum of every set is
// computed exactly; a later set replaces the best only when strictly greater,
// so among equal sums the earliest set keeps the maximum.
Result<CensusAggregate> aggregate_found_sets(std::span<const ModuliSet> found,
                                             std::size_t candidate_count,
                                             const AggregateMessages& messages) {
  CensusAggregate aggregate;
  aggregate.candidates = candidate_count;
  for (const ModuliSet& set : found) {
    if (set.empty()) continue;
    const std::uint64_t largest = set.back();
    aggregate.min_largest_modulus =
        std::min(aggregate.min_largest_modulus.value_or(largest), largest);
    aggregate.max_largest_modulus =
        std::max(aggregate.max_largest_modulus.value_or(largest), largest);
  }
  for (const ModuliSet& set : found) {
    auto sum = reciprocal_sum(set);
    if (!sum) return fail(std::string(messages.reciprocal_sum_overflow));
    auto greater = fraction_greater(*sum, aggregate.max_reciprocal_sum);
    if (!greater) return fail(std::string(messages.comparison_overflow));
    if (*greater) aggregate.max_reciprocal_sum = *sum;
  }
  return aggregate;
}

}  // namespace tilvane
