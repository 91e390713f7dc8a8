// Engine figures: periods, the cover check, node counts and residues of the
// residue search, and both irreducibility decisions.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/cover_check.h"
#include "engine/fast_search.h"
#include "engine/irreducibility.h"
#include "engine/period.h"
#include "engine/residue_search.h"

namespace tilvane {
namespace {

using Moduli = std::vector<std::uint64_t>;

std::string outcome_of(const Result<std::uint64_t>& r) {
  return r ? "ok " + std::to_string(*r) : "error " + r.error();
}

TEST(CommonPeriod, FoldsLcmAndReportsTheFirstFailingPrefix) {
  struct Case {
    Moduli moduli;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{}, "ok 1"},
      {{2, 3, 4, 6, 12}, "ok 12"},
      {{4000, 5000, 20000000}, "ok 20000000"},
      {{20000001}, "error common period 20000001 exceeds checker limit 20000000"},
      {{2, 3, 5, 7, 11, 13, 17, 19, 23, 29},
       "error common period 223092870 exceeds checker limit 20000000"},
      {{3, 9223372036854775808ULL}, "error LCM overflow while combining 3 and 9223372036854775808"},
      {{9223372036854775808ULL},
       "error common period 9223372036854775808 exceeds checker limit 20000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome_of(common_period(c.moduli)), c.expected);
}

TEST(CoverCheck, NamesTheSmallestUncoveredResidue) {
  const std::vector<Congruence> covering = {{2, 0}, {3, 0}, {4, 1}, {6, 5}, {12, 7}};
  EXPECT_TRUE(verify_displayed_cover(covering, 12).ok());
  std::vector<Congruence> gap = covering;
  gap[4].residue = 6;
  const Status s = verify_displayed_cover(gap, 12);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error(), "the displayed congruences do not cover residue 7 modulo 12");
}

TEST(CoverCheck, LargePeriodWithManyCongruencesFindsTheGap) {
  // 17297280 = 2^7 * 3^3 * 5 * 7 * 11 * 13; its divisors give plenty of moduli.
  const std::uint64_t period = 17297280;
  std::vector<Congruence> congruences;
  for (std::uint64_t m = 2; congruences.size() < 128 && m <= period; ++m) {
    if (period % m == 0) congruences.push_back({m, 1});
  }
  const Status s = verify_displayed_cover(congruences, period);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error(), "the displayed congruences do not cover residue 0 modulo 17297280");
}

struct SearchCase {
  Moduli moduli;
  std::uint64_t budget;
  SearchOutcome outcome;
  std::uint64_t nodes;
  Moduli residues;
};

const std::vector<SearchCase>& search_cases() {
  static const std::vector<SearchCase> cases = {
      {{}, 50000000, SearchOutcome::NotFound, 0, {}},
      {{4, 5, 6, 7, 8}, 50000000, SearchOutcome::NotFound, 0, {}},
      {{1000003, 1000033}, 50000000, SearchOutcome::NotFound, 0, {}},
      {{2, 3, 4, 6, 12}, 50000000, SearchOutcome::Found, 5, {0, 0, 1, 1, 11}},
      {{2, 3, 4, 6, 12}, 5, SearchOutcome::Found, 5, {0, 0, 1, 1, 11}},
      {{2, 3, 4, 6, 12}, 4, SearchOutcome::BudgetExceeded, 4, {}},
      {{2, 3, 4, 6, 12}, 0, SearchOutcome::BudgetExceeded, 0, {}},
      {{2, 3, 4, 6}, 50000000, SearchOutcome::NotFound, 16, {}},
      {{2, 4, 6, 12}, 50000000, SearchOutcome::NotFound, 14, {}},
      {{2, 3, 6, 12}, 50000000, SearchOutcome::NotFound, 10, {}},
      {{2, 3, 4, 12}, 50000000, SearchOutcome::NotFound, 14, {}},
  };
  return cases;
}

TEST(ResidueSearch, LiteralSearchCountsNodesExactly) {
  for (const SearchCase& c : search_cases()) {
    auto r = find_cover_literal(c.moduli, c.budget);
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r->outcome, c.outcome) << ::testing::PrintToString(c.moduli);
    EXPECT_EQ(r->nodes, c.nodes) << ::testing::PrintToString(c.moduli);
    EXPECT_EQ(r->residues, c.residues) << ::testing::PrintToString(c.moduli);
  }
}

TEST(ResidueSearch, ProgramSearchCountsNodesExactly) {
  for (const SearchCase& c : search_cases()) {
    auto r = find_cover(c.moduli, c.budget);
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r->outcome, c.outcome) << ::testing::PrintToString(c.moduli);
    EXPECT_EQ(r->nodes, c.nodes) << ::testing::PrintToString(c.moduli);
    EXPECT_EQ(r->residues, c.residues) << ::testing::PrintToString(c.moduli);
  }
}

TEST(ResidueSearch, PeriodErrorsPassThroughAfterThePreTest) {
  auto r = find_cover(Moduli{2, 3, 5, 7, 11, 13, 17, 19, 23, 29}, 100);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), "common period 223092870 exceeds checker limit 20000000");
}

std::vector<Congruence> example_congruences() { return {{2, 0}, {3, 0}, {4, 1}, {6, 5}, {12, 7}}; }

TEST(VerifyIrreducible, SharesOneGlobalBudgetAcrossDeletions) {
  struct Case {
    std::vector<Congruence> congruences;
    std::uint64_t budget;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {example_congruences(), 50000000, "ok 54"},
      {example_congruences(), 54, "ok 54"},
      {example_congruences(), 53, "error irreducibility undecided after 53 search nodes; no PASS"},
      {example_congruences(), 15, "error irreducibility undecided after 15 search nodes; no PASS"},
      {example_congruences(), 14,
       "error irreducibility search exhausted the global budget of 14 nodes"},
      {{{2, 0}, {3, 0}, {4, 1}, {6, 5}, {8, 3}, {12, 7}},
       50000000,
       "error set is reducible: after deleting modulus 8, the remaining set covers via "
       "0 (mod 2), 0 (mod 3), 1 (mod 4), 1 (mod 6), 11 (mod 12)"},
      {{{5, 0}}, 1, "ok 0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome_of(verify_irreducible(c.congruences, c.budget)), c.expected);
  }
}

TEST(DecideIrreducible, WholeSetThenEveryDeletionWithTheFullBudget) {
  struct Case {
    Moduli moduli;
    std::uint64_t budget;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{2, 3, 4, 6, 12}, 50000000, "true 59"},
      {{2, 3, 4, 6}, 50000000, "false 16"},
      {{2, 3, 4, 6, 8, 12}, 50000000, "false 194"},
      {{2, 3, 4, 6, 12}, 4, "error full-cover search for [2, 3, 4, 6, 12] exceeded 4 nodes"},
      {{2, 3, 4, 6, 12}, 15, "error deletion search for [2, 3, 4, 6, 12] exceeded 15 nodes"},
  };
  for (const Case& c : cases) {
    auto r = decide_irreducible_moduli(c.moduli, c.budget);
    const std::string got =
        r ? std::string(r->irreducible ? "true " : "false ") + std::to_string(r->nodes)
          : "error " + r.error();
    EXPECT_EQ(got, c.expected);
  }
}

}  // namespace
}  // namespace tilvane
