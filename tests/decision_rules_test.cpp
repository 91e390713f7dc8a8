// The rules the decision search takes from the structure of covers: the
// orbit representatives of the affine maps, the redundant class of a cover,
// the stores of sets that do not cover and of sets that cover, the memo
// that keeps storing once its budget is reached and compares whole keys,
// and the local search that may only return covers.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "engine/affine_symmetry.h"
#include "engine/cover_store.h"
#include "engine/decision_memo.h"
#include "engine/decision_search.h"
#include "engine/dominance_store.h"
#include "engine/local_cover_search.h"
#include "engine/redundant_class.h"
#include "moduli_sets.h"

namespace tilvane {
namespace {

using testing::Moduli;

TEST(AffineSymmetry, PlansWorkedOutByHand) {
  struct Case {
    Moduli moduli;
    std::size_t second;
    Moduli second_residues;
    std::size_t third;
    std::uint64_t third_residues;
  };
  const std::vector<Case> cases = {
      // m1 = 2: s/tau(g) is 3 for 3 and 6, 2 for 4, 6 for 12; s = 12 with
      // residues 0 and 1. lcm 12: 3, 4 and 6 each have w/gcd = 1, 3 first.
      {{2, 3, 4, 6, 12}, 4, {0, 1}, 1, 3},
      // m1 = 6: 8 (g = 2) gives 4, 12 (g = 6, tau 4) gives 3; lcm 24.
      {{6, 8, 12}, 1, {0, 1}, 2, 12},
      {{4, 6}, 1, {0, 1}, SymmetryPlan::kNone, 0},
      {{5}, SymmetryPlan::kNone, {}, SymmetryPlan::kNone, 0},
  };
  for (const Case& c : cases) {
    const SymmetryPlan plan = plan_symmetry(c.moduli, 0);
    EXPECT_EQ(plan.second, c.second) << render_set(c.moduli);
    EXPECT_EQ(plan.second_residues, c.second_residues) << render_set(c.moduli);
    EXPECT_EQ(plan.third, c.third) << render_set(c.moduli);
    if (c.third != SymmetryPlan::kNone) {
      EXPECT_EQ(plan.third_residues, c.third_residues);
    }
  }
}

TEST(RedundantClass, FoundOnlyWhenEveryPointIsHeldTwice) {
  struct Case {
    Moduli moduli;
    Moduli residues;
    std::uint64_t period;
    std::optional<std::size_t> redundant;
  };
  const std::vector<Case> cases = {
      {{2, 3, 4, 6, 12}, {0, 0, 1, 1, 11}, 12, std::nullopt},  // an exact cover
      {{2, 4, 4}, {0, 1, 3}, 4, std::nullopt},
      {{2, 3, 4, 6, 12}, {0, 0, 1, 1, 5}, 12, 2},  // 1, 5, 9 (mod 12) held by 6, 12, 3
      {{2, 2, 4}, {0, 1, 3}, 4, 2},                // 3 mod 4 lies in 1 mod 2
      {{2, 2, 3}, {0, 1, 2}, 6, 2},                // two halves already cover
  };
  for (const Case& c : cases) {
    EXPECT_EQ(redundant_class(c.moduli, c.residues, c.period), c.redundant) << render_set(c.moduli);
  }
}

// The local search on covering sets of periods 12 to 1440 and on sets that
// do not cover (each judged by the exhaustive search): it finds the covers,
// which pass the cover check, gives nothing for the others whatever its
// budget, and returns the same residues for the same seed.
TEST(LocalCoverSearch, ReturnsCoversOnlyAndTheSameForTheSameSeed) {
  const std::vector<Moduli> sets = {
      {2, 3, 4, 6, 12},
      {2, 3, 4, 6, 8, 12, 24},
      {2, 3, 4, 5, 6, 8, 10, 12, 15, 20, 24, 30, 40, 60, 120},
      {2, 3, 4, 5, 6, 8, 10, 12, 15, 20, 24, 30, 40, 60, 240, 360, 480, 720, 1440},
      {2, 3, 5},                                             // coprime moduli
      {2, 3, 4, 6, 24},                                      // 24 alone has 2^3
      {2, 3, 4, 9, 16, 18, 24, 48, 72},                      // less 144 of a cover
      {3, 4, 5, 6, 8, 10, 12, 15, 20, 24, 30, 40, 60, 120},  // Erdős's cover less 2
      {0, 2},                                                // modulus 0
  };
  DecisionOptions exhaustive;
  exhaustive.local_search = false;
  std::size_t covering = 0;
  for (const Moduli& set : sets) {
    auto decided = decide_cover(set, UINT64_MAX, nullptr, detected_simd_level(), exhaustive);
    const bool covers = decided.ok() && decided->outcome == SearchOutcome::Found;
    covering += covers ? 1 : 0;
    for (std::uint64_t seed : {std::uint64_t{1}, local_search_seed(set)}) {
      const auto found = local_cover_search(set, 20000, seed);
      ASSERT_EQ(found.has_value(), covers) << render_set(set) << " seed " << seed;
      if (!found) continue;
      EXPECT_TRUE(testing::covers(set, *found)) << render_set(set);
      EXPECT_EQ(local_cover_search(set, 20000, seed), found) << render_set(set);
    }
  }
  EXPECT_GE(covering, 4U);
  EXPECT_GE(sets.size() - covering, 3U);
  EXPECT_NE(local_search_seed(Moduli{2, 3, 4}), local_search_seed(Moduli{2, 3, 5}));
}

// A set is settled when one of its one-modulus deletions is stored, and
// only then.
TEST(CoverStore, FindsAStoredDeletionAndNothingElse) {
  CoverStore store;
  EXPECT_FALSE(store.covering_deletion(Moduli{2, 3, 4, 6, 12}).has_value());
  store.insert(Moduli{2, 3, 4, 6, 12});
  struct Case {
    Moduli set;
    std::optional<std::size_t> deletion;
  };
  const std::vector<Case> cases = {
      {{2, 3, 4, 5, 6, 12}, 3},  // less 5
      {{2, 3, 4, 6, 12, 24}, 5},
      {{1, 2, 3, 4, 6, 12}, 0},
      {{2, 3, 4, 6, 8, 12}, 4},
      {{2, 3, 4, 6, 12}, std::nullopt},  // the stored set itself is no deletion
      {{2, 3, 4, 6, 24, 36}, std::nullopt},
      {{2, 3, 4, 5, 6}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store.covering_deletion(c.set), c.deletion) << render_set(c.set);
  }
}

TEST(DominanceStore, ReplacementsAndExtensionsOfStoredSets) {
  DominanceStore store;
  store.insert(Moduli{2, 3, 4});
  store.insert(Moduli{3, 5, 6, 10});
  EXPECT_TRUE(store.contains(Moduli{2, 3, 4}));
  EXPECT_FALSE(store.contains(Moduli{2, 3}));
  struct Case {
    Moduli set;
    bool dominated;
  };
  const std::vector<Case> replacements = {
      {{2, 3, 8}, true},       // 8 -> 4
      {{2, 3, 12}, true},      // 12 -> 4
      {{2, 4, 9}, true},       // 9 -> 3
      {{2, 3, 4}, false},      // no divisor replacement of itself
      {{3, 5, 10, 12}, true},  // 12 -> 6
      {{3, 5, 6, 20}, true},   // 20 -> 10
      {{3, 6, 10, 25}, true},  // 25 -> 5
      {{4, 5, 6, 10}, false},  // 4's divisor 2 gives {2,5,6,10}, not stored
  };
  for (const Case& c : replacements) {
    EXPECT_EQ(store.dominated(c.set), c.dominated) << render_set(c.set);
  }
  const auto extended = [&](const Moduli& set, std::uint64_t lcm) {
    return store.extension_stored(set, DominanceStore::extensions_of(lcm));
  };
  EXPECT_EQ(DominanceStore::extensions_of(12), (Moduli{12, 6, 4, 3, 2}));
  EXPECT_TRUE(extended({2, 3}, 12));      // {2, 3} + 4
  EXPECT_TRUE(extended({3, 6, 10}, 30));  // + 5
  EXPECT_FALSE(extended({3, 6, 10}, 6));  // 5 does not divide 6
  EXPECT_FALSE(extended({2, 5}, 60));
  // Sets beyond the key are neither stored nor found.
  store.insert(Moduli{2, 70000});
  EXPECT_FALSE(store.contains(Moduli{2, 70000}));
}

// Both bounded tables keep storing once their budget is reached: the newest
// entries are always found, the memory stays within the budget.
TEST(BoundedTables, KeepStoringPastTheirBudget) {
  DominanceStore store(std::size_t{1} << 16);
  DecisionMemo memo(std::size_t{1} << 16);
  for (std::uint64_t i = 0; i < 20000; ++i) {
    const Moduli set = {2 + i % 1000, 3000 + i};
    store.insert(set);
    EXPECT_TRUE(store.contains(set)) << i;
    const std::vector<std::uint64_t> key(1 + i % 7, i);
    const std::uint64_t hash = i * 0x9e3779b97f4a7c15ULL;
    memo.insert(key, hash);
    ASSERT_TRUE(memo.contains(key, hash)) << i;
    ASSERT_LE(memo.bytes_used(), memo.byte_budget());
  }
  EXPECT_LT(store.entries(), 20000U);
  EXPECT_LT(memo.entries(), 20000U);
  EXPECT_EQ(memo.bytes_used(), memo.byte_budget());
}

// The memo compares whole keys: a key that shares its hash (even 0) with a
// stored one, or is a prefix of it, is not found.
TEST(DecisionMemo, AHitNeedsTheWholeKey) {
  DecisionMemo memo;
  using Key = std::vector<std::uint64_t>;
  for (const std::uint64_t hash : {std::uint64_t{0}, std::uint64_t{1}, ~std::uint64_t{0}}) {
    memo.insert(Key{7, 8, 9}, hash);
    EXPECT_TRUE(memo.contains(Key{7, 8, 9}, hash));
    EXPECT_FALSE(memo.contains(Key{7, 8, 10}, hash));
    EXPECT_FALSE(memo.contains(Key{7, 8}, hash));
    EXPECT_FALSE(memo.contains(Key{7, 8, 9, 0}, hash));
  }
  EXPECT_EQ(memo.hits(), 3U);
  EXPECT_EQ(memo.lookups(), 12U);
  // A budget too small for one slot per generation stores nothing.
  DecisionMemo tiny(64);
  tiny.insert(Key{1}, 5);
  EXPECT_FALSE(tiny.contains(Key{1}, 5));
  EXPECT_EQ(tiny.bytes_used(), 0U);
}

}  // namespace
}  // namespace tilvane
