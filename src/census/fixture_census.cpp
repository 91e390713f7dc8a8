#include "census/fixture_census.h"

#include <algorithm>

#include "base/text_format.h"

namespace tilvane {

// The checks run in a fixed order (found list, then aggregate) and nothing is
// reported before all have passed, so a failing census prints nothing.
Result<std::string> fixture_census_report(const CensusSize& census,
                                          std::span<const ModuliSet> found,
                                          std::span<const ModuliSet> expected,
                                          std::size_t candidate_count, std::uint64_t nodes) {
  const std::size_t k = census.space.k;
  if (!std::equal(found.begin(), found.end(), expected.begin(), expected.end())) {
    return fail(cat("k=", k, " census mismatch: computed ", found.size(), " sets, expected ",
                    expected.size()));
  }
  if (auto aggregate = check_aggregate(census, found, candidate_count); !aggregate) {
    return std::move(aggregate).take_error();
  }
  return cat("census k=", k, ": ", found.size(), " irreducible sets (exact list in ",
             census.fixture_file, ")\n", extrema_line(census), "PASS: exhaustive k=", k, " ",
             census.pass_kind, " checked ", candidate_count, " candidate sets (", nodes,
             " exhaustive DFS nodes)\n");
}

}  // namespace tilvane
