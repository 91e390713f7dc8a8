#include "census/census_table.h"

#include <algorithm>

#include "base/rendering.h"
#include "base/text_format.h"

namespace tilvane {
namespace {

// Each row: option; space (kind, size, bound); candidate count; fixture file
// and its number of sets; extrema (smallest and greatest largest modulus,
// greatest reciprocal sum); the PASS line's words; decided in parallel.
constexpr CensusSize kCensusTable[] = {
    {"--verify-small-census", {SpaceKind::Subsets, 5, 16}, 3039, {}, 0, std::nullopt, {}},
    {"--verify-k6-census",
     {SpaceKind::Subsets, 6, 32},
     739320,
     {},
     0,
     CensusExtrema{24, 24, {17, 12}},
     {}},
    {"--verify-k7-census",
     {SpaceKind::CommonMultiples, 7, 64},
     378,
     {},
     0,
     CensusExtrema{36, 48, {35, 24}},
     "common-multiple census"},
    {"--verify-k8-census",
     {SpaceKind::CommonMultiples, 8, 128},
     7443,
     "fixtures/k8_expected.txt",
     65,
     CensusExtrema{36, 96, {14, 9}},
     "common-multiple census"},
#if !TILVANE_REDUCED
    {"--verify-k9-census",
     {SpaceKind::CommonMultiples, 9, 256},
     159225,
     "fixtures/k9_expected.txt",
     318,
     CensusExtrema{30, 192, {17, 10}},
     "common-multiple census",
     true},
    {"--verify-k10-census",
     {SpaceKind::Simpson, 10, 512},
     28457,
     "fixtures/k10_expected.txt",
     2102,
     CensusExtrema{30, 384, {109, 60}},
     "Simpson-filtered common-multiple census",
     true},
    {"--verify-k11-census",
     {SpaceKind::Simpson, 11, 1024},
     343875,
     "fixtures/k11_expected.txt",
     17040,
     CensusExtrema{36, 768, {28, 15}},
     "Simpson-filtered exact-LCM census",
     true},
#endif
};

}  // namespace

std::span<const CensusSize> census_table() { return kCensusTable; }

const CensusSize* census_of_size(std::size_t k) {
  const auto* found = std::find_if(std::begin(kCensusTable), std::end(kCensusTable),
                                   [k](const CensusSize& c) { return c.space.k == k; });
  return found == std::end(kCensusTable) ? nullptr : found;
}

const CensusSize* census_of_option(std::string_view option) {
  const auto* found = std::find_if(std::begin(kCensusTable), std::end(kCensusTable),
                                   [option](const CensusSize& c) { return c.option == option; });
  return found == std::end(kCensusTable) ? nullptr : found;
}

std::string extrema_line(const CensusSize& census) {
  if (!census.extrema) return {};
  const CensusExtrema& e = *census.extrema;
  return cat("k=", census.space.k, " extrema: minimum largest modulus=", e.min_largest_modulus,
             "; maximum largest modulus=", e.max_largest_modulus,
             "; maximum reciprocal sum=", e.max_reciprocal_sum.numerator, "/",
             e.max_reciprocal_sum.denominator, "\n");
}

std::string census_node_overflow_message(std::size_t k) {
  return cat("k=", k, " census node counter overflow");
}

Status check_fixture_count(const CensusSize& census, std::size_t parsed_count) {
  if (parsed_count != census.fixture_count) {
    return fail(cat("expected k=", census.space.k, " fixture has ", parsed_count, " sets, not ",
                    census.fixture_count));
  }
  return {};
}

// The small census states only the extrema of its largest size, so its
// candidate count takes no part in the comparison and its messages name
// extrema rather than the aggregate.
Status check_aggregate(const CensusSize& census, std::span<const ModuliSet> found,
                       std::size_t candidate_count) {
  if (!census.extrema) return {};
  const std::size_t k = census.space.k;
  const bool extrema_only = census.space.kind == SpaceKind::Subsets;
  const std::string reciprocal_overflow = cat("reciprocal-sum overflow in k=", k, " answers");
  const std::string comparison_overflow = extrema_only
                                              ? std::string("fraction comparison overflow")
                                              : cat("k=", k, " fraction comparison overflow");
  const std::size_t counted = extrema_only ? 0 : candidate_count;
  auto aggregate = aggregate_found_sets(found, counted, {reciprocal_overflow, comparison_overflow});
  if (!aggregate) return std::move(aggregate).take_error();

  const CensusExtrema& e = *census.extrema;
  const CensusAggregate wanted{extrema_only ? 0 : census.candidate_count, e.min_largest_modulus,
                               e.max_largest_modulus, e.max_reciprocal_sum};
  if (*aggregate == wanted) return {};
  const std::string extrema = cat("min=", render_optional(aggregate->min_largest_modulus),
                                  ", max=", render_optional(aggregate->max_largest_modulus),
                                  ", reciprocal=", render_fraction(aggregate->max_reciprocal_sum));
  if (extrema_only) return fail(cat("k=", k, " extrema mismatch: ", extrema));
  return fail(
      cat("k=", k, " aggregate mismatch: candidates=", aggregate->candidates, ", ", extrema));
}

}  // namespace tilvane
