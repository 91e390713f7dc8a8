// Exact reciprocal sums, the census aggregate and the renderings of lists,
// optional values and fractions.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/fraction.h"
#include "base/rendering.h"
#include "census/aggregate.h"

namespace tilvane {
namespace {

constexpr std::uint64_t kMax64 = UINT64_MAX;
constexpr u128 kMax128 = ~u128{0};
constexpr u128 kHalf128 = u128{1} << 127;

std::string shown(const std::optional<Fraction>& f) { return f ? render_fraction(*f) : "overflow"; }

TEST(AddReciprocal, StaysInLowestTermsAndRefusesOverflow) {
  struct Case {
    Fraction sum;
    std::uint64_t modulus;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{0, 1}, 2, "(1, 2)"},
      {{1, 2}, 3, "(5, 6)"},
      {{5, 6}, 4, "(13, 12)"},
      {{13, 12}, 6, "(5, 4)"},  // 15/12 reduced
      {{5, 4}, 12, "(4, 3)"},
      {{0, 1}, 1, "(1, 1)"},
      {{0, 1}, kMax64, "(1, 18446744073709551615)"},
      {{1, kHalf128},
       2,
       "(85070591730234615865843651857942052865, 170141183460469231731687303715884105728)"},
      {{1, kHalf128}, 3, "overflow"},  // denominator 3 * 2^127
      {{kHalf128, 1}, 2, "overflow"},  // numerator 2 * 2^127
      {{kMax128, 1}, 1, "overflow"},   // the addition
      {{0, 1}, 0, "overflow"},         // no reciprocal of 0
      {{1, 0}, 2, "overflow"},         // not a fraction
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shown(add_reciprocal(c.sum, c.modulus)), c.expected)
        << render_fraction(c.sum) << " + 1/" << c.modulus;
  }
}

TEST(ReciprocalSum, AddsInSetOrder) {
  EXPECT_EQ(shown(reciprocal_sum(std::vector<std::uint64_t>{})), "(0, 1)");
  EXPECT_EQ(shown(reciprocal_sum(std::vector<std::uint64_t>{2, 3, 4, 6, 8, 24})), "(17, 12)");
  EXPECT_EQ(shown(reciprocal_sum(std::vector<std::uint64_t>{2, 3, 4, 6, 9, 18, 36})), "(13, 9)");
  EXPECT_EQ(shown(reciprocal_sum(std::vector<std::uint64_t>{kMax64 - 2, kMax64 - 1, kMax64})),
            "overflow");
}

TEST(FractionGreater, ComparesCrossProducts) {
  struct Case {
    Fraction x;
    Fraction y;
    std::optional<bool> expected;
  };
  const std::vector<Case> cases = {
      {{1, 2}, {1, 3}, true},
      {{1, 3}, {1, 2}, false},
      {{1, 2}, {2, 4}, false},  // equal values
      {{17, 12}, {4, 3}, true},
      {{1, 1}, {0, 1}, true},
      {{kHalf128, 1}, {1, 3}, std::nullopt},  // first product overflows
      {{1, 3}, {kHalf128, 1}, std::nullopt},  // second product overflows
      {{kMax128, 1}, {1, 1}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fraction_greater(c.x, c.y), c.expected)
        << render_fraction(c.x) << " > " << render_fraction(c.y);
  }
}

const AggregateMessages kMessages{"sum overflow", "comparison overflow"};

TEST(AggregateFoundSets, TakesExtremaOverTheFoundSets) {
  const auto empty = aggregate_found_sets({}, 5, kMessages);
  ASSERT_TRUE(empty);
  EXPECT_EQ(*empty, (CensusAggregate{5, std::nullopt, std::nullopt, {0, 1}}));

  const ModuliSetList found = {{2, 3, 4, 6, 12}, {2, 3, 4, 6, 8, 24}, {2, 4, 6, 8, 12, 24}};
  const auto aggregate = aggregate_found_sets(found, 7, kMessages);
  ASSERT_TRUE(aggregate);
  EXPECT_EQ(*aggregate, (CensusAggregate{7, 12, 24, {17, 12}}));

  // An empty set has no largest modulus.
  const auto with_empty = aggregate_found_sets(ModuliSetList{{}, {2, 5}}, 0, kMessages);
  ASSERT_TRUE(with_empty);
  EXPECT_EQ(*with_empty, (CensusAggregate{0, 5, 5, {7, 10}}));
}

TEST(AggregateFoundSets, ReportsEachOverflowWithTheModesText) {
  const ModuliSetList unsummable = {{2, 3}, {kMax64 - 2, kMax64 - 1, kMax64}};
  EXPECT_EQ(aggregate_found_sets(unsummable, 0, kMessages).error(), "sum overflow");
  // The first sum has a denominator close to 2^128, so comparing the second
  // with it overflows.
  const ModuliSetList incomparable = {{kMax64 - 1, kMax64}, {2, 3}};
  EXPECT_EQ(aggregate_found_sets(incomparable, 0, kMessages).error(), "comparison overflow");
}

TEST(Rendering, ListsOptionalsAndFractions) {
  EXPECT_EQ(render_set_list({}), "[]");
  EXPECT_EQ(render_set_list(ModuliSetList{{2, 3, 4, 6, 12}}), "[[2, 3, 4, 6, 12]]");
  EXPECT_EQ(render_set_list(ModuliSetList{{2, 3}, {}, {5}}), "[[2, 3], [], [5]]");
  EXPECT_EQ(render_optional(24), "Some(24)");
  EXPECT_EQ(render_optional(kMax64), "Some(18446744073709551615)");
  EXPECT_EQ(render_optional(std::nullopt), "None");
  EXPECT_EQ(render_fraction({17, 12}), "(17, 12)");
  EXPECT_EQ(render_fraction({0, 1}), "(0, 1)");
  EXPECT_EQ(render_fraction({kMax128, 1}), "(340282366920938463463374607431768211455, 1)");
}

}  // namespace
}  // namespace tilvane
