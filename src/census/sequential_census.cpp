#include "census/sequential_census.h"

#include <algorithm>
#include <limits>

#include "base/rendering.h"
#include "base/text_format.h"
#include "census/census_scan.h"
#include "census/census_table.h"
#include "census/embedded_fixtures.h"
#include "census/fixture_census.h"
#include "census/fixtures.h"

namespace tilvane {
namespace {

bool same_lists(std::span<const ModuliSet> a, std::span<const ModuliSet> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// The space the small census examines at size k: every subset of
// {2, ..., 2^(k-1)}.
CensusSpace small_census_space(std::size_t k) {
  const std::uint64_t bound =
      k - 1 < 64 ? std::uint64_t{1} << (k - 1) : std::numeric_limits<std::uint64_t>::max();
  return {SpaceKind::Subsets, k, bound};
}

const CensusSize& census_row(std::size_t k) { return *census_of_size(k); }

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

// Every size from 1 to max_size in turn: generate all subsets of
// {2, ..., 2^(k-1)} of size k, decide them, compare the found sets with the
// expected ones and print the size's census line (and, for a size whose
// census states extrema, the extrema line). One node total runs over all sizes.
Status verify_census_against(std::size_t max_size, std::uint64_t max_nodes,
                             std::span<const ModuliSetList> expected_by_size, std::ostream& out,
                             CensusProgress& progress) {
  std::size_t candidate_count = 0;
  CensusScan scan("global census node counter overflow");
  for (std::size_t k = 1; k <= max_size; ++k) {
    auto candidates = space_candidates(small_census_space(k));
    if (!candidates) return std::move(candidates).take_error();
    candidate_count += candidates->size();
    if (auto decided = decide_all_sequential(*candidates, max_nodes, scan, cat("k=", k), progress);
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
    // Only the largest size of a small census states extrema (k = 6).
    if (const CensusSize* census = census_of_size(k);
        census != nullptr && census->space.kind == SpaceKind::Subsets && census->extrema) {
      if (auto checked = check_aggregate(*census, found, 0); !checked) return checked;
      out << extrema_line(*census);
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
  CensusScan scan(census_node_overflow_message(7));
  if (auto decided = decide_all_sequential(candidates, max_nodes, scan, "k=7", progress);
      !decided) {
    return decided;
  }
  const ModuliSetList& found = scan.found();
  if (!same_lists(found, expected)) {
    return fail(cat("k=7 census mismatch: computed ", render_set_list(found), ", expected ",
                    render_set_list(expected)));
  }
  const CensusSize& census = census_row(7);
  if (auto checked = check_aggregate(census, found, candidate_count); !checked) return checked;
  out << cat("census k=7: ", found.size(), " irreducible sets: ", render_set_list(found), "\n",
             extrema_line(census), "PASS: exhaustive k=7 ", census.pass_kind, " checked ",
             candidate_count, " candidate sets (", scan.nodes(), " exhaustive DFS nodes)\n");
  return {};
}

Status verify_k7_census(std::uint64_t max_nodes, std::ostream& out, CensusProgress& progress) {
  const ModuliSetList expected = k7_census_expected_sets();
  auto candidates = space_candidates(census_row(7).space);
  if (!candidates) return std::move(candidates).take_error();
  return verify_k7_census_of(std::move(*candidates), expected, max_nodes, out, progress);
}

Status verify_fixture_census_of(const CensusSize& census, ModuliSetList candidates,
                                std::span<const ModuliSet> expected, std::uint64_t max_nodes,
                                std::ostream& out, CensusProgress& progress) {
  const std::size_t candidate_count = candidates.size();
  const std::size_t k = census.space.k;
  CensusScan scan(census_node_overflow_message(k));
  if (auto decided = decide_all_sequential(candidates, max_nodes, scan, cat("k=", k), progress);
      !decided) {
    return decided;
  }
  auto report =
      fixture_census_report(census, scan.found(), expected, candidate_count, scan.nodes());
  if (!report) return std::move(report).take_error();
  out << *report;
  return {};
}

// The fixture is read and counted before any candidate is generated, so a
// broken fixture fails at once.
Status verify_k8_census_with(std::string_view fixture_text, std::uint64_t max_nodes,
                             std::ostream& out, CensusProgress& progress) {
  const CensusSize& census = census_row(8);
  auto expected = load_expected_sets(fixture_text, census);
  if (!expected) return std::move(expected).take_error();
  auto candidates = space_candidates(census.space);
  if (!candidates) return std::move(candidates).take_error();
  return verify_fixture_census_of(census, std::move(*candidates), *expected, max_nodes, out,
                                  progress);
}

Status verify_k8_census(std::uint64_t max_nodes, std::ostream& out, CensusProgress& progress) {
  return verify_k8_census_with(embedded_fixture_text(8), max_nodes, out, progress);
}

}  // namespace tilvane
