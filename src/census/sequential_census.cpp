#include "census/sequential_census.h"

#include <algorithm>
#include <limits>

#include "base/rendering.h"
#include "base/text_format.h"
#include "census/aggregate.h"
#include "census/census_scan.h"
#include "census/combinations.h"
#include "census/common_multiples.h"
#include "census/embedded_fixtures.h"
#include "census/fixtures.h"

namespace tilvane {
namespace {

// The figures the k=6 extrema line states.
constexpr std::uint64_t kK6LargestModulus = 24;
constexpr Fraction kK6ReciprocalSum{17, 12};

// The figures the k=7 census must reproduce.
constexpr std::size_t kK7Candidates = 378;
constexpr std::uint64_t kK7MinLargestModulus = 36;
constexpr std::uint64_t kK7MaxLargestModulus = 48;
constexpr Fraction kK7ReciprocalSum{35, 24};

bool same_lists(std::span<const ModuliSet> a, std::span<const ModuliSet> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// The largest modulus the small census admits at size k: 2^(k-1).
std::uint64_t small_census_bound(std::size_t k) {
  return k - 1 < 64 ? std::uint64_t{1} << (k - 1) : std::numeric_limits<std::uint64_t>::max();
}

}  // namespace

ModuliSetList small_census_expected_sets(std::size_t k) {
  switch (k) {
    case 5:
      return {{2, 3, 4, 6, 12}};
    case 6:
      return {
          {2, 3, 4, 6, 8, 24}, {2, 3, 4, 8, 12, 24}, {2, 3, 6, 8, 12, 24}, {2, 4, 6, 8, 12, 24}};
    default:
      return {};
  }
}

ModuliSetList k7_census_expected_sets() {
  return {{2, 3, 4, 6, 8, 16, 48},   {2, 3, 4, 6, 9, 18, 36},   {2, 3, 4, 6, 16, 24, 48},
          {2, 3, 4, 8, 12, 16, 48},  {2, 3, 4, 8, 16, 24, 48},  {2, 3, 4, 9, 12, 18, 36},
          {2, 3, 4, 12, 16, 24, 48}, {2, 3, 6, 8, 12, 16, 48},  {2, 3, 6, 9, 12, 18, 36},
          {2, 3, 6, 12, 16, 24, 48}, {2, 4, 6, 8, 12, 16, 48},  {2, 4, 6, 8, 16, 24, 48},
          {2, 4, 6, 9, 12, 18, 36},  {2, 4, 6, 12, 16, 24, 48}, {2, 4, 8, 12, 16, 24, 48}};
}

Result<std::string> small_census_k6_extrema(std::span<const ModuliSet> found) {
  // The candidate count is not part of this check.
  auto aggregate = aggregate_found_sets(
      found, 0, {"reciprocal-sum overflow in k=6 answers", "fraction comparison overflow"});
  if (!aggregate) return std::move(aggregate).take_error();
  if (aggregate->min_largest_modulus != kK6LargestModulus ||
      aggregate->max_largest_modulus != kK6LargestModulus ||
      aggregate->max_reciprocal_sum != kK6ReciprocalSum) {
    return fail(cat("k=6 extrema mismatch: min=", render_optional(aggregate->min_largest_modulus),
                    ", max=", render_optional(aggregate->max_largest_modulus),
                    ", reciprocal=", render_fraction(aggregate->max_reciprocal_sum)));
  }
  return std::string(extrema_line(6));
}

// Every size from 1 to max_size in turn: generate all subsets of
// {2, ..., 2^(k-1)} of size k, decide them, compare the found sets with the
// expected ones and print the size's census line (and at size 6 the extrema
// line). One node total runs over all sizes.
Status verify_census_against(std::size_t max_size, std::uint64_t max_nodes,
                             std::span<const ModuliSetList> expected_by_size, std::ostream& out,
                             CensusProgress& progress) {
  std::size_t candidate_count = 0;
  CensusScan scan("global census node counter overflow");
  for (std::size_t k = 1; k <= max_size; ++k) {
    ModuliSetList candidates = combinations(k, small_census_bound(k));
    candidate_count += candidates.size();
    if (auto decided = decide_all_sequential(candidates, max_nodes, scan, cat("k=", k), progress);
        !decided) {
      return decided;
    }
    const ModuliSetList found = scan.take_found();
    const std::span<const ModuliSet> expected =
        k <= expected_by_size.size() ? std::span<const ModuliSet>(expected_by_size[k - 1])
                                     : std::span<const ModuliSet>();
    if (!same_lists(found, expected)) {
      return fail(cat("small census mismatch at k=", k, ": computed ", render_set_list(found),
                      ", expected ", render_set_list(expected)));
    }
    out << cat("census k=", k, ": ", found.size(), " irreducible sets: ", render_set_list(found),
               "\n");
    if (k == 6) {
      auto extrema = small_census_k6_extrema(found);
      if (!extrema) return std::move(extrema).take_error();
      out << *extrema;
    }
  }
  out << cat("PASS: exhaustive census through k=", max_size, " checked ", candidate_count,
             " candidate sets (", scan.nodes(), " exhaustive DFS nodes)\n");
  return {};
}

Status verify_census(std::size_t max_size, std::uint64_t max_nodes, std::ostream& out,
                     CensusProgress& progress) {
  ModuliSetList expected_by_size[6];
  for (std::size_t k = 1; k <= 6; ++k) expected_by_size[k - 1] = small_census_expected_sets(k);
  return verify_census_against(max_size, max_nodes, expected_by_size, out, progress);
}

// The k=7 census prints nothing until the found list and the aggregate have
// both matched.
Status verify_k7_census_of(ModuliSetList candidates, std::span<const ModuliSet> expected,
                           std::uint64_t max_nodes, std::ostream& out, CensusProgress& progress) {
  const std::size_t candidate_count = candidates.size();
  CensusScan scan("k=7 census node counter overflow");
  if (auto decided = decide_all_sequential(candidates, max_nodes, scan, "k=7", progress);
      !decided) {
    return decided;
  }
  const ModuliSetList& found = scan.found();
  if (!same_lists(found, expected)) {
    return fail(cat("k=7 census mismatch: computed ", render_set_list(found), ", expected ",
                    render_set_list(expected)));
  }
  auto aggregate = aggregate_found_sets(
      found, candidate_count,
      {"reciprocal-sum overflow in k=7 answers", "k=7 fraction comparison overflow"});
  if (!aggregate) return std::move(aggregate).take_error();
  const CensusAggregate wanted{kK7Candidates, kK7MinLargestModulus, kK7MaxLargestModulus,
                               kK7ReciprocalSum};
  if (*aggregate != wanted) {
    return fail(cat("k=7 aggregate mismatch: candidates=", aggregate->candidates,
                    ", min=", render_optional(aggregate->min_largest_modulus),
                    ", max=", render_optional(aggregate->max_largest_modulus),
                    ", reciprocal=", render_fraction(aggregate->max_reciprocal_sum)));
  }
  out << cat("census k=7: ", found.size(), " irreducible sets: ", render_set_list(found), "\n",
             extrema_line(7), "PASS: exhaustive k=7 common-multiple census checked ",
             candidate_count, " candidate sets (", scan.nodes(), " exhaustive DFS nodes)\n");
  return {};
}

Status verify_k7_census(std::uint64_t max_nodes, std::ostream& out, CensusProgress& progress) {
  const ModuliSetList expected = k7_census_expected_sets();
  return verify_k7_census_of(candidates_via_common_multiples(7, 64), expected, max_nodes, out,
                             progress);
}

Status verify_fixture_census_of(const FixtureCensusFigures& figures, ModuliSetList candidates,
                                std::span<const ModuliSet> expected, std::uint64_t max_nodes,
                                std::ostream& out, CensusProgress& progress) {
  const std::size_t candidate_count = candidates.size();
  CensusScan scan(census_node_overflow_message(figures.k));
  if (auto decided =
          decide_all_sequential(candidates, max_nodes, scan, cat("k=", figures.k), progress);
      !decided) {
    return decided;
  }
  auto report =
      fixture_census_report(figures, scan.found(), expected, candidate_count, scan.nodes());
  if (!report) return std::move(report).take_error();
  out << *report;
  return {};
}

// The fixture is read and counted before any candidate is generated, so a
// broken fixture fails at once.
Status verify_k8_census_with(std::string_view fixture_text, std::uint64_t max_nodes,
                             std::ostream& out, CensusProgress& progress) {
  auto expected = load_expected_sets(fixture_text, 8);
  if (!expected) return std::move(expected).take_error();
  return verify_fixture_census_of(*fixture_census_figures(8),
                                  candidates_via_common_multiples(8, 128), *expected, max_nodes,
                                  out, progress);
}

Status verify_k8_census(std::uint64_t max_nodes, std::ostream& out, CensusProgress& progress) {
  return verify_k8_census_with(embedded_fixture_text(8), max_nodes, out, progress);
}

}  // namespace tilvane
