// The fast search against the literal one: the same outcome, node count and
// residues for census-like sets, random sets and large sets, at every budget
// from 0 to beyond the exact count, on every instruction-set level this
// processor offers; and the result cache shared by census workers.
#include "engine/fast_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "engine/counter_search.h"
#include "engine/irreducibility.h"
#include "engine/period.h"
#include "engine/residue_search.h"
#include "engine/search_cache.h"
#include "engine/simd_level.h"
#include "engine/wide_bitset_search.h"
#include "moduli_sets.h"

namespace tilvane {
namespace {

using namespace tilvane::testing;

// Sets like the census candidates: k divisors of some L up to 2^(k-1) whose
// reciprocals sum to at least 1 (the others end in the pre-test), followed
// by all their one-modulus deletions.
std::vector<Moduli> census_like_sets(std::size_t per_size, std::uint64_t seed) {
  Random random(seed);
  std::vector<Moduli> sets;
  for (std::size_t k = 5; k <= 11; ++k) {
    const std::uint64_t max_lcm = std::uint64_t{1} << (k - 1);
    for (std::size_t made = 0; made < per_size;) {
      const Moduli pool = divisors_from_two(2 + random.below(max_lcm - 1));
      if (pool.size() < k) continue;
      Moduli set = pick(pool, k, random);
      if (!sum_at_least_one(set)) continue;
      sets.push_back(std::move(set));
      ++made;
    }
  }
  return with_deletions(sets);
}

// Random sets of 2 to 9 moduli up to 60. Periods beyond the checker limit
// compare the pre-test and the period errors; the literal search's cost per
// node grows with the period, so the others are kept to periods up to 50000.
std::vector<Moduli> random_sets(std::size_t count, std::uint64_t seed) {
  Random random(seed);
  Moduli pool;
  for (std::uint64_t m = 2; m <= 60; ++m) pool.push_back(m);
  std::vector<Moduli> sets;
  while (sets.size() < count) {
    Moduli set = pick(pool, 2 + random.below(8), random);
    const std::uint64_t lcm = lcm_of(set);
    if (lcm <= 50000 || lcm > kPeriodLimit) sets.push_back(std::move(set));
  }
  return sets;
}

// 12 to 16 divisors of numbers with many divisors: periods up to 1024 for
// the bitset search, and larger ones (up to 720720) for the counter search.
std::vector<Moduli> large_sets(std::size_t count, std::uint64_t seed) {
  Random random(seed);
  const Moduli bases = {720, 840, 960, 1008, 1024, 5040, 10080, 55440, 720720};
  std::vector<Moduli> sets;
  for (std::size_t i = 0; i < count; ++i) {
    const Moduli pool = divisors_from_two(bases[i % bases.size()]);
    sets.push_back(pick(pool, std::min<std::size_t>(pool.size(), 12 + random.below(5)), random));
  }
  return sets;
}

std::string describe(const Result<CoverSearch>& r) {
  if (!r) return "error " + r.error();
  std::string text = r->outcome == SearchOutcome::Found      ? "Found"
                     : r->outcome == SearchOutcome::NotFound ? "NotFound"
                                                             : "BudgetExceeded";
  text += " after " + std::to_string(r->nodes) + " nodes";
  return text;
}

// The same outcome and node count as the literal search; both report 0 for a
// modulus that the cover did not need, so the residues must agree exactly,
// and they must cover.
void expect_same_as_literal(const Moduli& moduli, const Result<CoverSearch>& literal,
                            const Result<CoverSearch>& search) {
  EXPECT_EQ(describe(search), describe(literal));
  if (literal && search && literal->outcome == SearchOutcome::Found &&
      search->outcome == SearchOutcome::Found) {
    EXPECT_EQ(search->residues, literal->residues);
    EXPECT_TRUE(covers(moduli, search->residues));
  }
}

// Compares the searches at budget on every level; returns the literal result.
Result<CoverSearch> expect_same_search(const Moduli& moduli, std::uint64_t budget) {
  auto literal = find_cover_literal(moduli, budget);
  for (SimdLevel level : supported_levels()) {
    SCOPED_TRACE(::testing::PrintToString(moduli) + " budget " + std::to_string(budget) + " " +
                 simd_level_name(level));
    expect_same_as_literal(moduli, literal, find_cover_fast(moduli, budget, level));
  }
  return literal;
}

// The full search with budget cap, then the budgets around its exact count
// and the tiny ones. A search that reaches the cap is compared at the cap.
void expect_same_at_every_budget(const Moduli& moduli, std::uint64_t cap) {
  auto full = expect_same_search(moduli, cap);
  if (!full) return;
  const std::uint64_t exact = full->nodes;
  for (std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{7},
                               std::uint64_t{100}, exact - 1, exact, exact + 1}) {
    if (budget < cap) (void)expect_same_search(moduli, budget);
  }
}

void expect_same_on_all(const std::vector<Moduli>& sets, std::uint64_t cap) {
  for (const Moduli& moduli : sets) {
    expect_same_at_every_budget(moduli, cap);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(FastSearch, MatchesTheLiteralSearchOnCensusLikeSets) {
  expect_same_on_all(census_like_sets(10, 1), 8000);
}

TEST(FastSearch, MatchesTheLiteralSearchOnRandomSets) {
  expect_same_on_all(random_sets(1500, 2), 20000);
}

TEST(FastSearch, MatchesTheLiteralSearchOnSetsOfTwelveToSixteenModuli) {
  expect_same_on_all(large_sets(120, 3), 5000);
}

// Every budget from 0 to one past the exact count, for searches of up to 400
// nodes: wherever the budget runs out, inside a subtree or among children
// counted without being built, both searches stop at the same node.
TEST(FastSearch, MatchesTheLiteralSearchAtEveryBudget) {
  std::size_t searched = 0;
  for (const Moduli& moduli : census_like_sets(20, 4)) {
    auto full = find_cover_literal(moduli, 401);
    ASSERT_TRUE(full.ok());
    if (full->nodes == 0 || full->nodes > 400) continue;
    ++searched;
    for (std::uint64_t budget = 0; budget <= full->nodes + 1; ++budget) {
      (void)expect_same_search(moduli, budget);
    }
    if (HasFailure()) return;
  }
  EXPECT_GT(searched, 50U);
}

TEST(FastSearch, MatchesTheLiteralSearchOnEdgeSets) {
  const std::vector<Moduli> sets = {
      {},
      {2},
      {2, 3, 4, 6, 12},
      {2, 3, 4, 6},
      {4, 5, 6, 7, 8},
      {1000003, 1000033},
      {2, 3, 5, 7, 11, 13, 17, 19, 23, 29},
      {3, 9223372036854775808ULL},
      {2, 3, 9223372036854775808ULL},
      {2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 1024 * 3},
      // Every divisor of 840 from 2: the most moduli a period up to 1024 has.
      divisors_from_two(840),
      // Period just above the bitset limit.
      {2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 768, 1536},
  };
  expect_same_on_all(sets, 20000);
}

// This set finds its cover with 24 never assigned: both searches report
// residue 0 for it rather than an unset value.
TEST(FastSearch, ModuliLeftOutOfTheCoverGetResidueZero) {
  const Moduli moduli{2, 3, 4, 6, 8, 12, 24};
  for (auto r : {find_cover(moduli, 1000), find_cover_literal(moduli, 1000)}) {
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->outcome, SearchOutcome::Found);
    EXPECT_EQ(r->nodes, 6U);
    EXPECT_EQ(r->residues, (Moduli{0, 1, 1, 3, 3, 11, 0}));
  }
}

TEST(HeavyFastSearch, MatchesTheLiteralSearchOnManyCensusLikeSets) {
  expect_same_on_all(census_like_sets(60, 11), 200000);
}

TEST(HeavyFastSearch, MatchesTheLiteralSearchOnManyRandomAndLargeSets) {
  expect_same_on_all(random_sets(3000, 12), 100000);
  expect_same_on_all(large_sets(300, 13), 100000);
}

// Above period 1024 the fast search picks the wide bitset search or the
// counter search by cost; each is compared here on its own, on sets that
// pass the pre-tests, so neither goes untested whichever the choice.
std::vector<Moduli> large_period_sets() {
  std::vector<Moduli> sets = {
      {2, 3, 5, 23, 29, 31},                                       // period 620310, not covering
      {2, 3, 4, 6, 8, 12, 16, 24, 48, 96, 128, 192, 384, 1536},    // period 24 words
      {2, 3, 5, 7, 11, 13},                                        // period 30030: tail of 14 bits
      {3, 4, 5, 6, 8, 10, 12, 15, 20, 24, 30, 40, 60, 120, 1000},  // pattern offsets past a word
      {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},                        // period 27720
  };
  // Divisors of numbers with many divisors, 5 to 14 of them, whose
  // reciprocals sum to at least 1 and whose period passes 1024.
  Random random(31);
  const Moduli bases = {1260, 1680, 2520, 5040, 7560, 10080, 27720};
  std::size_t made = 0;
  while (made < 150) {
    const Moduli pool = divisors_from_two(bases[random.below(bases.size())]);
    Moduli set = pick(pool, 5 + random.below(10), random);
    const std::uint64_t lcm = lcm_of(set);
    if (lcm <= 1024 || !sum_at_least_one(set)) continue;
    sets.push_back(std::move(set));
    ++made;
  }
  return sets;
}

TEST(LargePeriodSearch, CounterAndWideBitsetSearchesMatchTheLiteralSearch) {
  std::size_t compared = 0;
  for (const Moduli& moduli : large_period_sets()) {
    const auto period = common_period(moduli);
    ASSERT_TRUE(period.ok());
    auto full = find_cover_literal(moduli, 5000);
    ASSERT_TRUE(full.ok());
    for (std::uint64_t budget : {std::uint64_t{1}, std::uint64_t{7}, std::uint64_t{100},
                                 full->nodes - 1, full->nodes, full->nodes + 1}) {
      auto literal = budget == full->nodes ? full : find_cover_literal(moduli, budget);
      ASSERT_TRUE(literal.ok());
      std::vector<std::pair<std::string, CoverSearch>> searches;
      searches.emplace_back("counter", counter_search(moduli, *period, budget));
      for (SimdLevel level : supported_levels()) {
        searches.emplace_back(std::string("wide ") + simd_level_name(level),
                              wide_bitset_search(moduli, *period, budget, level));
      }
      for (const auto& [name, search] : searches) {
        SCOPED_TRACE(::testing::PrintToString(moduli) + " budget " + std::to_string(budget) + " " +
                     name);
        expect_same_as_literal(moduli, literal, search);
      }
      ++compared;
    }
    if (HasFailure()) return;
  }
  EXPECT_GT(compared, 900U);
}

// {2, 3, 4, 6, 12}, whose reciprocals sum to 4/3, then the first `extra`
// multiples 1031·d over the divisors d of 4608: reciprocals that add almost
// nothing, and a period above the bitset's (at most 1031·4608).
Moduli cover_with_small_reciprocals(std::size_t extra) {
  Moduli moduli = {2, 3, 4, 6, 12};
  for (std::uint64_t d = 1; moduli.size() < 5 + extra; ++d) {
    if (4608 % d == 0) moduli.push_back(1031 * d);
  }
  return moduli;
}

// Which search each kind of input reaches, at every level whether or not this
// processor has it: the wide search is worth its passes over the words only
// while the moduli number at most a level's cost ratio (12, 16, 24) times
// their reciprocal sum.
TEST(SearchChoice, EachInputReachesItsSearch) {
  using enum SearchChoice;
  struct Case {
    std::string name;
    Moduli moduli;
    SearchChoice portable, avx2, avx512;
  };
  const Moduli divisors = divisors_from_two(720720);
  const std::vector<Case> cases = {
      {"no moduli", {}, PreTest, PreTest, PreTest},
      {"reciprocals below 1", {2, 3, 7}, PreTest, PreTest, PreTest},
      {"period over the limit",
       {2, 3, 5, 7, 11, 13, 17, 19, 23},
       PeriodFails,
       PeriodFails,
       PeriodFails},
      {"period beyond 64 bits",
       {2, 3, 6, 9223372036854775807u},
       PeriodFails,
       PeriodFails,
       PeriodFails},
      {"period 12", {2, 3, 4, 6, 12}, Bitset, Bitset, Bitset},
      {"period 1020", {2, 3, 4, 6, 12, 1020}, Bitset, Bitset, Bitset},
      {"period 12300", {2, 3, 4, 6, 12, 1025}, WideBitset, WideBitset, WideBitset},
      {"six moduli, period 620310", {2, 3, 5, 23, 29, 31}, WideBitset, WideBitset, WideBitset},
      {"17 moduli", cover_with_small_reciprocals(12), Counter, WideBitset, WideBitset},
      {"22 moduli", cover_with_small_reciprocals(17), Counter, Counter, WideBitset},
      {"33 moduli", cover_with_small_reciprocals(28), Counter, Counter, Counter},
      {"65 moduli, over the wide search's limit", Moduli(divisors.begin(), divisors.begin() + 65),
       Counter, Counter, Counter},
      {"238 moduli", divisors, Counter, Counter, Counter},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(choose_search(c.moduli, SimdLevel::Portable), c.portable) << c.name;
    EXPECT_EQ(choose_search(c.moduli, SimdLevel::Avx2), c.avx2) << c.name;
    EXPECT_EQ(choose_search(c.moduli, SimdLevel::Avx512), c.avx512) << c.name;
  }
  // Twenty moduli of period 18378360 would need about 92 MB, beyond what the
  // wide search may take, though their count and reciprocals would suit it.
  Moduli twenty = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
  EXPECT_GT(wide_bitset_memory(twenty, 18378360), kWideBitsetMemoryLimit);
  EXPECT_FALSE(wide_bitset_search_fits(twenty, 18378360, SimdLevel::Avx512));
  EXPECT_TRUE(wide_bitset_search_fits(twenty, 720720, SimdLevel::Avx512));
}

TEST(SimdLevels, PortableIsAlwaysSupportedAndNamed) {
  EXPECT_TRUE(simd_level_supported(SimdLevel::Portable));
  EXPECT_TRUE(simd_level_supported(detected_simd_level()));
  EXPECT_STREQ(simd_level_name(SimdLevel::Portable), "portable");
  EXPECT_STREQ(simd_level_name(SimdLevel::Avx2), "avx2");
  EXPECT_STREQ(simd_level_name(SimdLevel::Avx512), "avx512");
}

TEST(SearchCache, ReturnsWhatWasStoredAndDropsWhatItCannotHold) {
  SearchCache cache(1000, 64);
  EXPECT_EQ(cache.slot_count(), 64U);
  EXPECT_EQ(cache.memory_bytes(), 64U * 32U);
  const Moduli a = {2, 3, 4, 6, 12};
  const Moduli b = {2, 3, 4, 6, 24};
  EXPECT_FALSE(cache.find(a).has_value());
  cache.insert(a, {SearchOutcome::NotFound, 100});
  cache.insert(b, {SearchOutcome::BudgetExceeded, 1000});
  EXPECT_EQ(cache.find(a), (CachedSearch{SearchOutcome::NotFound, 100}));
  EXPECT_EQ(cache.find(b), (CachedSearch{SearchOutcome::BudgetExceeded, 1000}));
  EXPECT_FALSE(cache.find(Moduli{2, 3, 4, 6}).has_value());

  struct Dropped {
    Moduli moduli;
    std::uint64_t nodes;
  };
  const std::vector<Dropped> dropped = {
      {{2, 3, 4, 6, 8}, SearchCache::kMinNodes - 1},  // cheaper to repeat
      {{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 500},    // too many moduli
      {{2, 3, 65536}, 500},                           // modulus too large
      {{}, 500},                                      // nothing to key
  };
  for (const Dropped& d : dropped) {
    cache.insert(d.moduli, {SearchOutcome::NotFound, d.nodes});
    EXPECT_FALSE(cache.find(d.moduli).has_value()) << ::testing::PrintToString(d.moduli);
  }
  EXPECT_EQ(cache.stored(), 2U);
}

TEST(SearchCache, AFullTableDropsNewSetsButNeverAnswersWrongly) {
  SearchCache cache(1000, 64);
  std::vector<Moduli> sets;
  for (std::uint64_t m = 3; m < 400; ++m) sets.push_back({2, m, 2 * m});
  for (std::size_t i = 0; i < sets.size(); ++i)
    cache.insert(sets[i], {SearchOutcome::NotFound, 64 + i});
  std::size_t answered = 0;
  for (std::size_t i = 0; i < sets.size(); ++i) {
    if (auto hit = cache.find(sets[i])) {
      ++answered;
      EXPECT_EQ(*hit, (CachedSearch{SearchOutcome::NotFound, 64 + i}));
    }
  }
  EXPECT_EQ(answered, cache.stored());
  EXPECT_LE(answered, 64U);
  EXPECT_GT(answered, 0U);
}

std::string describe(const Result<IrreducibleDecision>& r) {
  if (!r) return "error " + r.error();
  return std::string(r->irreducible ? "true " : "false ") + std::to_string(r->nodes);
}

// Census-like candidates share many deletions; deciding them with one cache
// from several threads at once gives exactly the decisions without a cache.
TEST(SearchCache, SharedByThreadsLeavesEveryDecisionUnchanged) {
  std::vector<Moduli> candidates;
  for (const Moduli& set : census_like_sets(4, 21)) {
    if (set.size() >= 5) candidates.push_back(set);
  }
  const std::uint64_t budget = 30000;
  std::vector<std::string> expected;
  for (const Moduli& c : candidates)
    expected.push_back(describe(decide_irreducible_moduli(c, budget)));

  SearchCache cache(budget, 1024);
  constexpr std::size_t kThreads = 4;
  std::vector<std::vector<std::string>> got(kThreads, std::vector<std::string>(candidates.size()));
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread goes through all candidates, starting at its own place.
      for (std::size_t n = 0; n < candidates.size(); ++n) {
        const std::size_t i = (n + t * candidates.size() / kThreads) % candidates.size();
        got[t][i] = describe(decide_irreducible_moduli(candidates[i], budget, cache));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < kThreads; ++t) EXPECT_EQ(got[t], expected) << "thread " << t;
  EXPECT_GT(cache.stored(), 0U);
}

TEST(SearchCache, ACacheForAnotherBudgetIsNotUsed) {
  const Moduli set = {2, 3, 4, 6, 12};
  SearchCache cache(50000000, 64);
  // A wrong entry planted for the deletion [2, 3, 4, 6] must not be read
  // when the budget differs, and is read when it matches.
  cache.insert(Moduli{3, 4, 6, 12}, {SearchOutcome::NotFound, 1000});
  EXPECT_EQ(describe(decide_irreducible_moduli(set, 100, cache)), "true 59");
  EXPECT_EQ(describe(decide_irreducible_moduli(set, 50000000, cache)), "true 1059");
}

}  // namespace
}  // namespace tilvane
