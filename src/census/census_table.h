// The facts of every census mode in one table: its option, the candidate
// space it enumerates, how many candidates that space holds, the fixture it
// checks against, and the extrema its irreducible sets must reach. The
// drivers, the fixture loader and the command line all read them from here,
// so each figure is written once and can be checked against the others in
// one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/fraction.h"
#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/aggregate.h"
#include "census/space.h"

namespace tilvane {

// What the irreducible sets of one size reach: the smallest and greatest
// largest modulus, and the greatest sum of reciprocals of one set.
struct CensusExtrema {
  std::uint64_t min_largest_modulus = 0;
  std::uint64_t max_largest_modulus = 0;
  Fraction max_reciprocal_sum;
};

// One census mode. The small census (Subsets) examines every size from 1 to
// space.k and counts the candidates of all of them together.
struct CensusSize {
  std::string_view option;
  // Every census bounds its space by 2^(k-1): as the largest modulus of the
  // subsets, or as the bound on the least common multiple.
  CensusSpace space;
  std::size_t candidate_count = 0;
  // "fixtures/k{k}_expected.txt" and the number of sets it holds; empty and 0
  // where the driver carries its expected list as constant data.
  std::string_view fixture_file;
  std::size_t fixture_count = 0;
  // Checked and printed once the found sets match; none for a census that
  // reports no extrema.
  std::optional<CensusExtrema> extrema;
  // The words of the PASS line after "k={k} ", e.g. "common-multiple census";
  // empty for the small census, whose PASS line has its own form.
  std::string_view pass_kind;
  // Decided on the worker pool rather than on the calling thread.
  bool parallel = false;
};

// Every census mode of this build, in the order the usage text lists them;
// the reduced build stops at k = 8.
std::span<const CensusSize> census_table();

// The census whose space has the given size (5 is the small census, 6 the
// k=6 census), or nullptr.
const CensusSize* census_of_size(std::size_t k);

// The census whose option is exactly option, or nullptr.
const CensusSize* census_of_option(std::string_view option);

// The extrema line with its line feed, e.g. "k=8 extrema: minimum largest
// modulus=36; maximum largest modulus=96; maximum reciprocal sum=14/9\n";
// empty for a census without extrema.
std::string extrema_line(const CensusSize& census);

// "k={k} census node counter overflow".
std::string census_node_overflow_message(std::size_t k);

// Fails with "expected k={k} fixture has {parsed_count} sets, not {count}"
// unless parsed_count is the census's fixture count.
Status check_fixture_count(const CensusSize& census, std::size_t parsed_count);

// Computes the aggregate of the found sets and compares it with the census's
// extrema and candidate count. Fails with the census's overflow texts, or
// with "k={k} aggregate mismatch: candidates={}, min={}, max={},
// reciprocal={}". The small census compares the extrema alone ("k={k} extrema
// mismatch: min={}, max={}, reciprocal={}").
Status check_aggregate(const CensusSize& census, std::span<const ModuliSet> found,
                       std::size_t candidate_count);

}  // namespace tilvane
