// The Simpson-filtered candidates: the Simpson sum, the values of L that pass
// it, the lists the census uses, and a brute-force oracle on small bounds.
#include "census/simpson.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "census/combinations.h"
#include "census/common_multiples.h"
#include "engine/period.h"

namespace tilvane {
namespace {

TEST(SimpsonSum, AddsExponentTimesPrimeMinusOneOverThePrimePowers) {
  struct Case {
    std::uint64_t lcm;
    std::uint64_t sum;
  };
  const std::vector<Case> cases = {
      {1, 0},       {2, 1},
      {3, 2},       {4, 2},
      {12, 4},      {512, 9},
      {576, 10},    {720, 12},
      {1021, 1020},  // 1021 is prime
      {1024, 10},   {18446744073709551615ULL, 2 + 4 + 16 + 256 + 640 + 65536 + 6700416},
  };
  for (const Case& c : cases) EXPECT_EQ(simpson_sum(c.lcm), c.sum) << c.lcm;
}

TEST(SimpsonSum, PassesExactlyTheFiftyValuesUpTo512ForTen) {
  const std::vector<std::uint64_t> expected = {
      1,  2,  3,  4,  5,   6,   7,   8,   9,   10,  12,  14,  15,  16,  18,  20, 21,
      24, 25, 27, 28, 30,  32,  36,  40,  42,  45,  48,  50,  54,  56,  60,  64, 72,
      80, 81, 90, 96, 108, 120, 128, 144, 160, 162, 192, 216, 256, 288, 384, 512};
  std::vector<std::uint64_t> passing;
  for (std::uint64_t l = 1; l <= 512; ++l) {
    if (simpson_sum(l) < 10) passing.push_back(l);
  }
  EXPECT_EQ(passing, expected);
}

struct CensusList {
  std::size_t k;
  std::uint64_t max_lcm;
  std::size_t size;
  std::vector<ModuliSet> first_three;
  std::vector<ModuliSet> last_three;
};

void expect_census_list(const CensusList& list) {
  auto result = candidates_via_simpson(list.k, list.max_lcm);
  ASSERT_TRUE(result.ok()) << result.error();
  ASSERT_EQ(result->size(), list.size) << "k=" << list.k;
  EXPECT_EQ(ModuliSetList(result->begin(), result->begin() + 3), list.first_three);
  EXPECT_EQ(ModuliSetList(result->end() - 3, result->end()), list.last_three);
  EXPECT_TRUE(std::is_sorted(result->begin(), result->end()));
  EXPECT_EQ(std::adjacent_find(result->begin(), result->end()), result->end());
}

TEST(SimpsonCandidates, CensusListForTenHasItsSizeAndEnds) {
  expect_census_list({10,
                      512,
                      28457,
                      {{2, 3, 4, 5, 6, 8, 10, 12, 15, 20},
                       {2, 3, 4, 5, 6, 8, 10, 12, 15, 24},
                       {2, 3, 4, 5, 6, 8, 10, 12, 15, 30}},
                      {{12, 16, 24, 32, 48, 64, 96, 128, 192, 384},
                       {12, 18, 24, 32, 36, 48, 72, 96, 144, 288},
                       {16, 18, 24, 32, 36, 48, 72, 96, 144, 288}}});
}

TEST(HeavySimpsonCandidates, CensusListForElevenHasItsSizeAndEnds) {
  expect_census_list({11,
                      1024,
                      343875,
                      {{2, 3, 4, 5, 6, 8, 10, 12, 15, 16, 20},
                       {2, 3, 4, 5, 6, 8, 10, 12, 15, 16, 24},
                       {2, 3, 4, 5, 6, 8, 10, 12, 15, 16, 30}},
                      {{18, 24, 36, 48, 64, 72, 96, 144, 192, 288, 576},
                       {18, 32, 36, 48, 64, 72, 96, 144, 192, 288, 576},
                       {24, 32, 36, 48, 64, 72, 96, 144, 192, 288, 576}}});
}

// The same list by another road: all sets with a small enough least common
// multiple, from the common-multiple generator (or, for tiny bounds, from all
// subsets of {2, ..., max_lcm}), filtered by the Simpson sum of their lcm.
ModuliSetList simpson_oracle(const ModuliSetList& sets, std::size_t k, std::uint64_t max_lcm) {
  ModuliSetList out;
  for (const ModuliSet& set : sets) {
    auto lcm = common_period(set);
    if (lcm.ok() && *lcm <= max_lcm && simpson_sum(*lcm) < k) out.push_back(set);
  }
  return out;
}

struct OracleCase {
  std::size_t k;
  std::uint64_t max_lcm;
  std::size_t size;
};

void expect_oracle_list(const OracleCase& c) {
  auto result = candidates_via_simpson(c.k, c.max_lcm);
  ASSERT_TRUE(result.ok()) << result.error();
  const ModuliSetList all = c.max_lcm <= 48 ? combinations(c.k, c.max_lcm)
                                            : candidates_via_common_multiples(c.k, c.max_lcm);
  EXPECT_EQ(*result, simpson_oracle(all, c.k, c.max_lcm))
      << "k=" << c.k << " max_lcm=" << c.max_lcm;
  EXPECT_EQ(result->size(), c.size) << "k=" << c.k;
}

TEST(SimpsonCandidates, MatchesTheSimpsonFilteredCommonMultipleSets) {
  // (6, 24) holds the seven 6-subsets of the divisors of 24; (5, 12) only
  // 2 3 4 6 12; (2, 12) and (4, 48) nothing, though their bounds admit sets;
  // the larger bounds compare against the common-multiple generator.
  for (const OracleCase& c : std::vector<OracleCase>{
           {2, 12, 0}, {4, 48, 0}, {5, 12, 1}, {6, 24, 7}, {7, 64, 44}, {8, 128, 330}}) {
    expect_oracle_list(c);
  }
  auto twelve = candidates_via_simpson(5, 12);
  ASSERT_TRUE(twelve.ok());
  EXPECT_EQ(*twelve, (ModuliSetList{{2, 3, 4, 6, 12}}));
}

TEST(HeavySimpsonCandidates, MatchesTheSimpsonFilteredCommonMultipleSetsForNine) {
  expect_oracle_list({9, 256, 2827});
}

TEST(SimpsonCandidates, ZeroSizeOrZeroBoundGivesNothing) {
  for (auto [k, max_lcm] :
       std::vector<std::pair<std::size_t, std::uint64_t>>{{0, 512}, {10, 0}, {1, 1}, {3, 4}}) {
    auto result = candidates_via_simpson(k, max_lcm);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_TRUE(result->empty()) << "k=" << k << " max_lcm=" << max_lcm;
  }
}

}  // namespace
}  // namespace tilvane
