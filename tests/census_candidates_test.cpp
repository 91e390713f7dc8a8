// Candidate generation: subsets of a range or a pool, and the common-multiple
// candidates, in their exact order and without repeats.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <set>
#include <vector>

#include "census/combinations.h"
#include "census/common_multiples.h"

namespace tilvane {
namespace {

// The common-multiple candidates as defined: for every N up to the bound,
// every k-element selection of the divisors of N that are at least 2,
// collected in an ordered set that drops repeats.
ModuliSetList common_multiples_by_definition(std::size_t k, std::uint64_t max_lcm) {
  std::set<ModuliSet> sets;
  for (std::uint64_t n = 1; n <= max_lcm; ++n) {
    ModuliSet divisors;
    for (std::uint64_t d = 2; d <= n; ++d) {
      if (n % d == 0) divisors.push_back(d);
    }
    for (ModuliSet& selection : combinations_from(divisors, k)) sets.insert(std::move(selection));
  }
  return {sets.begin(), sets.end()};
}

TEST(Combinations, ListsEverySubsetOfTheRangeInLexicographicOrder) {
  EXPECT_EQ(combinations(2, 4), (ModuliSetList{{2, 3}, {2, 4}, {3, 4}}));
  EXPECT_EQ(combinations(3, 4), (ModuliSetList{{2, 3, 4}}));
  EXPECT_EQ(combinations(1, 3), (ModuliSetList{{2}, {3}}));
  // Too few values, and the empty range.
  EXPECT_EQ(combinations(1, 1), ModuliSetList{});
  EXPECT_EQ(combinations(4, 4), ModuliSetList{});
  EXPECT_EQ(combinations(1, 0), ModuliSetList{});
  EXPECT_EQ(combinations(0, 5), ModuliSetList{{}});
  EXPECT_EQ(combinations(2, 5).back(), (ModuliSet{4, 5}));
}

TEST(CombinationsFrom, KeepsThePoolOrder) {
  const ModuliSet pool = {2, 3, 4, 6, 12};
  EXPECT_EQ(
      combinations_from(pool, 4),
      (ModuliSetList{{2, 3, 4, 6}, {2, 3, 4, 12}, {2, 3, 6, 12}, {2, 4, 6, 12}, {3, 4, 6, 12}}));
  EXPECT_EQ(combinations_from(pool, 5), ModuliSetList{pool});
  EXPECT_EQ(combinations_from(pool, 6), ModuliSetList{});
  EXPECT_EQ(combinations_from({}, 1), ModuliSetList{});
  // Positions, not values, decide the order.
  const ModuliSet unordered = {9, 4, 7};
  EXPECT_EQ(combinations_from(unordered, 2), (ModuliSetList{{9, 4}, {9, 7}, {4, 7}}));
}

TEST(CommonMultiples, SmallCasesListEachSetOnceInOrder) {
  EXPECT_EQ(candidates_via_common_multiples(2, 6), (ModuliSetList{{2, 3}, {2, 4}, {2, 6}, {3, 6}}));
  const ModuliSetList pairs = candidates_via_common_multiples(2, 12);
  ASSERT_EQ(pairs.size(), 16u);
  EXPECT_EQ(pairs.front(), (ModuliSet{2, 3}));
  EXPECT_EQ(pairs[1], (ModuliSet{2, 4}));  // from 4, 8 and 12, listed once
  EXPECT_EQ(pairs[2], (ModuliSet{2, 5}));
  EXPECT_EQ(pairs.back(), (ModuliSet{6, 12}));
  EXPECT_EQ(candidates_via_common_multiples(2, 0), ModuliSetList{});
  EXPECT_EQ(candidates_via_common_multiples(2, 1), ModuliSetList{});
  EXPECT_EQ(candidates_via_common_multiples(0, 1), ModuliSetList{{}});
  EXPECT_EQ(candidates_via_common_multiples(0, 0), ModuliSetList{});
}

TEST(CommonMultiples, EqualTheListOfTheDefiningConstruction) {
  struct Case {
    std::size_t k;
    std::uint64_t max_lcm;
  };
  const Case cases[] = {{1, 10}, {2, 12}, {3, 60}, {4, 120}, {5, 96}, {6, 144}, {7, 64}, {8, 128}};
  for (const Case& c : cases) {
    EXPECT_EQ(candidates_via_common_multiples(c.k, c.max_lcm),
              common_multiples_by_definition(c.k, c.max_lcm))
        << "k=" << c.k << " max_lcm=" << c.max_lcm;
  }
}

// The sizes of the census spaces are bound to the census table by its own
// test; here the order and the bound of the largest.
TEST(CommonMultiples, CensusSpaceForNineIsSortedWithinItsBound) {
  const ModuliSetList nines = candidates_via_common_multiples(9, 256);
  for (std::size_t i = 1; i < nines.size(); ++i) ASSERT_LT(nines[i - 1], nines[i]);
  for (const ModuliSet& set : nines) {
    std::uint64_t lcm = 1;
    for (std::uint64_t m : set) lcm = std::lcm(lcm, m);
    ASSERT_LE(lcm, 256u);
  }
}

// The defining construction for k = 9 takes a few seconds.
TEST(HeavyCommonMultiples, NineFromTwoHundredFiftySixEqualsTheDefiningConstruction) {
  EXPECT_EQ(candidates_via_common_multiples(9, 256), common_multiples_by_definition(9, 256));
}

}  // namespace
}  // namespace tilvane
