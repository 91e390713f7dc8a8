#include "census/fixture_census.h"

#include <algorithm>

#include "base/rendering.h"
#include "base/text_format.h"
#include "census/fixtures.h"

namespace tilvane {

std::optional<FixtureCensusFigures> fixture_census_figures(std::size_t k) {
  switch (k) {
    case 8:
      return FixtureCensusFigures{8, {7443, 36, 96, {14, 9}}, "common-multiple census"};
#if !TILVANE_REDUCED
    case 9:
      return FixtureCensusFigures{9, {159225, 30, 192, {17, 10}}, "common-multiple census"};
    case 10:
      return FixtureCensusFigures{
          10, {28457, 30, 384, {109, 60}}, "Simpson-filtered common-multiple census"};
    case 11:
      return FixtureCensusFigures{
          11, {343875, 36, 768, {28, 15}}, "Simpson-filtered exact-LCM census"};
#endif
    default:
      return std::nullopt;
  }
}

std::string census_node_overflow_message(std::size_t k) {
  return cat("k=", k, " census node counter overflow");
}

// The checks run in a fixed order (found list, then aggregate) and nothing is
// reported before all have passed, so a failing census prints nothing.
Result<std::string> fixture_census_report(const FixtureCensusFigures& figures,
                                          std::span<const ModuliSet> found,
                                          std::span<const ModuliSet> expected,
                                          std::size_t candidate_count, std::uint64_t nodes) {
  const std::size_t k = figures.k;
  if (!std::equal(found.begin(), found.end(), expected.begin(), expected.end())) {
    return fail(cat("k=", k, " census mismatch: computed ", found.size(), " sets, expected ",
                    expected.size()));
  }
  const std::string reciprocal_overflow = cat("reciprocal-sum overflow in k=", k, " answers");
  const std::string comparison_overflow = cat("k=", k, " fraction comparison overflow");
  auto aggregate =
      aggregate_found_sets(found, candidate_count, {reciprocal_overflow, comparison_overflow});
  if (!aggregate) return std::move(aggregate).take_error();
  if (*aggregate != figures.expected_aggregate) {
    return fail(cat("k=", k, " aggregate mismatch: candidates=", aggregate->candidates,
                    ", min=", render_optional(aggregate->min_largest_modulus),
                    ", max=", render_optional(aggregate->max_largest_modulus),
                    ", reciprocal=", render_fraction(aggregate->max_reciprocal_sum)));
  }
  return cat("census k=", k, ": ", found.size(), " irreducible sets (exact list in ",
             fixture_file_name(k), ")\n", extrema_line(k), "PASS: exhaustive k=", k, " ",
             figures.census_kind, " checked ", candidate_count, " candidate sets (", nodes,
             " exhaustive DFS nodes)\n");
}

}  // namespace tilvane
