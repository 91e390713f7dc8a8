// The decision search against the node-exact searches: the same outcome on
// every common-multiple candidate of k = 7 and 8 and their deletions, on
// sets with periods beyond 1024 and 2048, with every technique switched off
// in turn, on every instruction-set level; every cover it reports passes the
// cover check; its irreducibility verdicts match the census decision; and
// the prime-power reductions on sets worked out by hand.
#include "engine/decision_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

#include "base/text_format.h"
#include "census/common_multiples.h"
#include "engine/cover_store.h"
#include "engine/decision_memo.h"
#include "engine/dominance_store.h"
#include "engine/fast_search.h"
#include "engine/irreducibility.h"
#include "engine/period.h"
#include "engine/prime_power.h"
#include "engine/residue_search.h"
#include "engine/simd_level.h"
#include "moduli_sets.h"

namespace tilvane {
namespace {

using namespace tilvane::testing;
constexpr std::uint64_t kNoBudget = UINT64_MAX;

// Decides every set with a shared memo on every level (and with the options
// given) and compares the outcome with the expected one.
void expect_same_outcomes(const std::vector<Moduli>& sets,
                          const std::vector<SearchOutcome>& expected,
                          const DecisionOptions& options = {}) {
  for (SimdLevel level : supported_levels()) {
    DecisionMemo memo;
    for (std::size_t i = 0; i < sets.size(); ++i) {
      auto d = decide_cover(sets[i], kNoBudget, &memo, level, options);
      ASSERT_TRUE(d.ok()) << d.error();
      ASSERT_EQ(d->outcome, expected[i]) << render_set(sets[i]) << " at " << simd_level_name(level);
      if (d->outcome == SearchOutcome::Found) {
        EXPECT_TRUE(covers(sets[i], d->residues)) << render_set(sets[i]);
      }
    }
  }
}

// The local search tried on every set, however small, before the
// exhaustive search.
DecisionOptions local_search_everywhere() {
  DecisionOptions options;
  options.local_min_moduli = 0;
  options.local_min_period = 0;
  options.local_moves = 200;
  return options;
}

// Every set handed to the moduli search at once; with a small moduli budget,
// most hand-offs end undecided and go back to the decision search.
DecisionOptions moduli_search_everywhere(std::uint64_t moduli_budget = std::uint64_t{1} << 22) {
  DecisionOptions options;
  options.moduli_min_moduli = 0;
  options.moduli_probe_nodes = 0;
  options.moduli_max_nodes = moduli_budget;
  return options;
}

// All techniques on, each switched off in turn, and all off at once.
std::vector<DecisionOptions> technique_variants() {
  std::vector<DecisionOptions> variants(17);
  variants[1].reduce = false;
  variants[2].merge = false;
  variants[3].reduce_in_search = false;
  variants[4].project = false;
  variants[5].bound = false;
  variants[6].fail_first = false;
  variants[7].bound = variants[7].fail_first = false;
  variants[8].heavy_min = 2;  // every node heavy
  variants[9].symmetry = false;
  variants[10].fibres = false;
  variants[11] = {false, false, false, false, false, false, 2, 1, 0, false, false, false, false};
  variants[11].local_search = false;
  variants[12].local_search = false;
  variants[13] = local_search_everywhere();
  variants[14].moduli_search = false;
  variants[15] = moduli_search_everywhere();
  variants[16] = moduli_search_everywhere(20);
  return variants;
}

std::vector<SearchOutcome> literal_outcomes(const std::vector<Moduli>& sets) {
  std::vector<SearchOutcome> out;
  for (const Moduli& set : sets) out.push_back(find_cover_literal(set, kNoBudget)->outcome);
  return out;
}

// k moduli drawn from the divisors of bases with many divisors, periods from
// 1440 to 10080, reciprocals summing to at least 1, with their deletions.
std::vector<Moduli> large_period_sets(std::size_t count) {
  const Moduli bases = {1440, 2016, 2520, 3072, 4320, 5040, 6144, 10080};
  Random random(12345);
  std::vector<Moduli> sets;
  while (sets.size() < count) {
    Moduli set =
        pick(divisors_from_two(bases[sets.size() % bases.size()]), 6 + random.below(5), random);
    if (sum_at_least_one(set) && lcm_of(set) > 1024) sets.push_back(std::move(set));
  }
  return with_deletions(sets);
}

// Random sets of large period, searched with and without the reductions
// (which decide most of them alone). The literal search costs a pass over
// the period per node, so the node-exact search (bound to it by its own
// tests) answers here; sets it cannot finish within its budget are skipped.
TEST(DecisionSearch, AgreesWithTheExactSearchOnPeriodsBeyond1024And2048) {
  std::vector<Moduli> sets;
  std::vector<SearchOutcome> expected;
  for (const Moduli& set : large_period_sets(24)) {
    const SearchOutcome outcome = find_cover(set, 2000000)->outcome;
    if (outcome == SearchOutcome::BudgetExceeded) continue;
    sets.push_back(set);
    expected.push_back(outcome);
  }
  ASSERT_GT(sets.size(), 150U);
  std::vector<DecisionOptions> variants(6);
  variants[1].reduce = false;
  variants[2].symmetry = false;
  variants[3].fibres = false;
  variants[4].moduli_search = false;
  variants[5] = moduli_search_everywhere();
  for (const DecisionOptions& options : variants) expect_same_outcomes(sets, expected, options);
}

// Covering sets built by splitting a class of a covering set with a
// covering: {2, 3, 4, 6, 12} covers, so the class of 12 is covered by the
// classes of 24, 36, 48, 72 and 144 within it, and so on; and Erdős's
// covering of period 120 with its class of 120 split the same way.
TEST(DecisionSearch, FindsCoversOfPeriods1440To20736) {
  const std::vector<Moduli> sets = {
      {2, 3, 4, 5, 6, 8, 10, 12, 15, 20, 24, 30, 40, 60, 240, 360, 480, 720, 1440},
      {2, 3, 4, 6, 24, 36, 48, 72, 288, 432, 576, 864, 1728},
      {2, 3, 4, 6, 24, 36, 48, 72, 288, 432, 576, 864, 3456, 5184, 6912, 10368, 20736},
  };
  DecisionOptions plain;
  plain.reduce = false;
  expect_same_outcomes(sets, std::vector<SearchOutcome>(sets.size(), SearchOutcome::Found));
  expect_same_outcomes(sets, std::vector<SearchOutcome>(sets.size(), SearchOutcome::Found), plain);
}

// Every common-multiple candidate of k = 7 and its deletions, with all
// techniques on and with each switched off in turn.
TEST(DecisionSearch, AgreesWithTheLiteralSearchWhicheverTechniquesAreOn) {
  const std::vector<Moduli> sets = with_deletions(candidates_via_common_multiples(7, 64));
  const std::vector<SearchOutcome> expected = literal_outcomes(sets);
  for (const DecisionOptions& options : technique_variants()) {
    expect_same_outcomes(sets, expected, options);
  }
}

// The node-exact search is bound to the literal one by its own tests; here
// it stands in for it on the larger space.
TEST(DecisionSearch, AgreesWithTheNodeExactSearchOnEveryK8CandidateAndDeletion) {
  const std::vector<Moduli> sets = with_deletions(candidates_via_common_multiples(8, 128));
  std::vector<SearchOutcome> expected;
  for (const Moduli& set : sets) expected.push_back(find_cover(set, kNoBudget)->outcome);
  std::vector<DecisionOptions> variants(5);
  variants[1].symmetry = false;
  variants[2].fibres = false;
  variants[3] = local_search_everywhere();
  variants[4] = moduli_search_everywhere();
  for (const DecisionOptions& options : variants) expect_same_outcomes(sets, expected, options);
}

// The verdicts against the census decision, with the redundant-class rule,
// the local search, the moduli search and the three stores each on and off; the store is shared by
// four threads that take the candidates in interleaved order, so a set is often looked up before or
// while its dominators are decided.
TEST(DecisionSearch, IrreducibilityVerdictsMatchTheCensusDecision) {
  for (std::size_t k : {std::size_t{7}, std::size_t{8}}) {
    const std::vector<Moduli> sets =
        candidates_via_common_multiples(k, std::uint64_t{1} << (k - 1));
    std::vector<Verdict> expected;
    for (const Moduli& set : sets) {
      const bool covering = find_cover(set, kNoBudget)->outcome == SearchOutcome::Found;
      expected.push_back(decide_irreducible_moduli(set, kNoBudget)->irreducible
                             ? Verdict::Irreducible
                         : covering ? Verdict::Reducible
                                    : Verdict::NotCovering);
    }
    std::vector<DecisionOptions> variants(9);
    variants[1].redundant = false;
    variants[2].dominance = false;
    variants[3].local_search = false;
    variants[4] = local_search_everywhere();
    variants[5].deletions = false;
    variants[6].covers = false;
    variants[7].moduli_search = false;
    variants[8] = moduli_search_everywhere();
    for (const DecisionOptions& options : variants) {
      DecisionMemo memo;
      DominanceStore store;
      CoverStore cover_store;
      std::vector<std::string> wrong(4);
      std::vector<std::thread> threads;
      for (std::size_t t = 0; t < wrong.size(); ++t) {
        threads.emplace_back([&, t] {
          for (std::size_t i = t; i < sets.size(); i += wrong.size()) {
            const auto fast = decide_irreducible_fast(
                sets[i], kNoBudget, &memo, detected_simd_level(), options, &store, &cover_store);
            const bool right =
                fast.ok() && fast->verdict == expected[i] &&
                (fast->verdict != Verdict::Irreducible || covers(sets[i], fast->residues));
            if (!right && wrong[t].empty()) wrong[t] = render_set(sets[i]);
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
      for (const std::string& set : wrong) EXPECT_EQ(set, "") << "k = " << k;
      if (options.dominance) {
        EXPECT_GT(store.entries(), 0U);
      }
      if (options.covers && options.redundant) {
        EXPECT_GT(cover_store.entries(), 0U);
      }
    }
  }
}

TEST(DecisionSearch, AMemoSharedByThreadsLeavesEveryAnswerUnchanged) {
  const std::vector<Moduli> sets = with_deletions(candidates_via_common_multiples(7, 64));
  const std::vector<SearchOutcome> expected = literal_outcomes(sets);
  for (std::size_t budget : {std::size_t{1} << 20, std::size_t{2048}}) {
    DecisionMemo memo(budget);
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (std::size_t t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (std::size_t i = t; i < sets.size() + t; ++i) {
          const std::size_t n = i % sets.size();
          if (decide_cover(sets[n], kNoBudget, &memo)->outcome != expected[n]) ++wrong[t];
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::accumulate(wrong.begin(), wrong.end(), 0), 0);
    EXPECT_LE(memo.bytes_used(), budget);
  }
}

TEST(DecisionSearch, AnExhaustedBudgetIsReportedNeverGuessed) {
  // An irreducible covering set of 10 moduli that needs a search of a few nodes.
  // The local search counts no nodes: it finds this cover on any budget,
  // and the exhaustive search alone is held to the budget.
  const Moduli set = {2, 3, 4, 9, 16, 18, 24, 48, 72, 144};
  EXPECT_EQ(decide_cover(set, 0)->outcome, SearchOutcome::Found);
  DecisionOptions exhaustive;
  exhaustive.local_search = false;
  const auto decide = [&](std::uint64_t budget) {
    return decide_cover(set, budget, nullptr, detected_simd_level(), exhaustive);
  };
  const auto full = decide(kNoBudget);
  ASSERT_EQ(full->outcome, SearchOutcome::Found);
  ASSERT_GT(full->nodes, 2U);
  for (std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{1}, full->nodes - 1}) {
    const auto cut = decide(budget);
    EXPECT_EQ(cut->outcome, SearchOutcome::BudgetExceeded) << budget;
    EXPECT_LE(cut->nodes, budget);
  }
  EXPECT_EQ(decide(full->nodes)->outcome, SearchOutcome::Found);

  // A set handed to the moduli search: the nodes of both searches count.
  const Moduli refuted = {2, 3, 4, 5, 12, 15, 36, 60, 80, 90, 144, 180, 240, 360};
  const DecisionOptions handed = moduli_search_everywhere();
  const auto level = detected_simd_level();
  const auto settled = decide_cover(refuted, kNoBudget, nullptr, level, handed);
  ASSERT_EQ(settled->outcome, SearchOutcome::NotFound);
  for (std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{1}, settled->nodes - 1}) {
    const auto cut = decide_cover(refuted, budget, nullptr, level, handed);
    EXPECT_EQ(cut->outcome, SearchOutcome::BudgetExceeded) << budget;
    EXPECT_LE(cut->nodes, budget);
  }

  const auto exact = decide_irreducible_fast(set, kNoBudget);
  ASSERT_NE(exact->verdict, Verdict::Undecided);
  EXPECT_EQ(decide_irreducible_fast(set, 1)->verdict,
            exact->verdict == Verdict::Reducible ? Verdict::Reducible : Verdict::Undecided);
}

TEST(DecisionSearch, PeriodFailuresCarryTheCommonPeriodTexts) {
  const std::vector<Moduli> sets = {
      {2, 3, 6, 9999991, 9999973},                    // period beyond the limit
      {2, 3, 6, 4294967291, 4294967279, 4294967231},  // LCM overflow
  };
  for (const Moduli& set : sets) {
    const auto d = decide_cover(set, kNoBudget);
    ASSERT_FALSE(d.ok());
    EXPECT_EQ(d.error(), common_period(set).error());
  }
  // Reciprocals below 1 end before the period is looked at, as in find_cover.
  EXPECT_EQ(decide_cover(Moduli{9999991, 9999973}, kNoBudget)->outcome, SearchOutcome::NotFound);
  EXPECT_EQ(decide_cover(Moduli{}, kNoBudget)->outcome, SearchOutcome::NotFound);
}

TEST(DecisionPrimePower, ReducibleSetsWorkedOutByHand) {
  struct Case {
    Moduli moduli;
    bool reducible;
  };
  const std::vector<Case> cases = {
      {{2, 3, 4, 6, 12}, false},  // 2^2: {4, 12}; 3: {3, 6, 12}
      {{2, 4, 8}, true},          // 2^3: {8} alone
      {{2, 3, 6}, true},          // 3: {3, 6}, fewer than 3
      {{5}, true},
      {{2, 3, 4, 6, 8, 12, 24}, false},  // 2^3: {8, 24}; 3: four moduli
      {{2, 3, 5, 6, 10, 15, 30}, true},  // 5: {5, 10, 15, 30} but only 4 < 5
      {{2, 3, 4, 5, 6, 10, 12, 15, 20, 30, 60}, false},
      {{}, false},
      {{9999991, 9999973}, false},  // period beyond the limit: not examined
  };
  for (const Case& c : cases) {
    EXPECT_EQ(prime_power_reducible(c.moduli), c.reducible) << render_set(c.moduli);
  }
}

// The reductions never change the answer: the node-exact search decides
// random divisor sets and what the reductions leave of them alike.
TEST(DecisionPrimePower, ReductionsNeverChangeTheNodeExactAnswer) {
  Random random(99);
  const Moduli bases = {48, 60, 72, 90, 120, 144, 180, 240, 288, 360};
  std::size_t reduced = 0;
  for (std::size_t n = 0; n < 1500; ++n) {
    const std::uint64_t base = bases[n % bases.size()];
    Moduli pool = divisors_from_two(base);
    const std::size_t k = std::min<std::size_t>(pool.size(), 4 + random.below(7));
    for (std::size_t i = 0; i < k; ++i) std::swap(pool[i], pool[i + random.below(pool.size() - i)]);
    // Kept in the order drawn, not sorted.
    Moduli set(pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(k));
    const PrimePowerReduction r = reduce_prime_powers(set, *common_period(set), true);
    Moduli rest;
    for (std::size_t i = 0; i < r.items.size(); ++i) {
      if (r.active[i] != 0) rest.push_back(r.items[i]);
    }
    if (rest.size() != set.size()) ++reduced;
    const bool set_covers = find_cover(set, kNoBudget)->outcome == SearchOutcome::Found;
    const bool rest_covers = r.period == 1
                                 ? !rest.empty()
                                 : find_cover(rest, kNoBudget)->outcome == SearchOutcome::Found;
    ASSERT_EQ(set_covers, rest_covers) << render_set(set) << " -> " << render_set(rest);
  }
  EXPECT_GT(reduced, 500U);
}

TEST(DecisionPrimePower, MergingPGroupsKeepsTheAnswerAndRebuildsCoveringResidues) {
  // {4, 12} merge into 6, then {3, 6, 6} into 2, then {2, 2} into 1: the set
  // is decided without a search, and the residues rebuilt from the merges
  // cover.
  const Moduli set = {2, 3, 4, 6, 12};
  const PrimePowerReduction r = reduce_prime_powers(set, 12, true);
  EXPECT_EQ(r.period, 1U);
  EXPECT_EQ(r.merges.size(), 3U);
  const auto d = decide_cover(set, 0);
  ASSERT_EQ(d->outcome, SearchOutcome::Found);
  EXPECT_EQ(d->nodes, 0U);
  EXPECT_TRUE(covers(set, d->residues));
  // Without 2 the reductions leave nothing that could cover.
  EXPECT_EQ(decide_cover(Moduli{3, 4, 6, 12}, 0)->outcome, SearchOutcome::NotFound);
}

}  // namespace
}  // namespace tilvane
