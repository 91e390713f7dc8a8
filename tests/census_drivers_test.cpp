// The census modes up to k = 8: their reports, and every failure path through
// the building blocks with other budgets, candidates, lists or fixture texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "census/census_scan.h"
#include "census/census_table.h"
#include "census/common_multiples.h"
#include "census/embedded_fixtures.h"
#include "census/fixture_census.h"
#include "census/fixtures.h"
#include "census/sequential_census.h"

namespace tilvane {
namespace {

constexpr std::uint64_t kDefaultBudget = 50000000;

const std::string kSmallCensusLines =
    "census k=1: 0 irreducible sets: []\n"
    "census k=2: 0 irreducible sets: []\n"
    "census k=3: 0 irreducible sets: []\n"
    "census k=4: 0 irreducible sets: []\n"
    "census k=5: 1 irreducible sets: [[2, 3, 4, 6, 12]]\n";

const std::string kK7Sets =
    "[[2, 3, 4, 6, 8, 16, 48], [2, 3, 4, 6, 9, 18, 36], [2, 3, 4, 6, 16, 24, 48], "
    "[2, 3, 4, 8, 12, 16, 48], [2, 3, 4, 8, 16, 24, 48], [2, 3, 4, 9, 12, 18, 36], "
    "[2, 3, 4, 12, 16, 24, 48], [2, 3, 6, 8, 12, 16, 48], [2, 3, 6, 9, 12, 18, 36], "
    "[2, 3, 6, 12, 16, 24, 48], [2, 4, 6, 8, 12, 16, 48], [2, 4, 6, 8, 16, 24, 48], "
    "[2, 4, 6, 9, 12, 18, 36], [2, 4, 6, 12, 16, 24, 48], [2, 4, 8, 12, 16, 24, 48]]";

ModuliSetList k8_fixture_sets() {
  auto sets = parse_expected_sets(embedded_fixture_text(8), 8);
  EXPECT_TRUE(sets);
  return sets ? *sets : ModuliSetList{};
}

TEST(SmallCensus, ReportsEverySizeThenPasses) {
  std::ostringstream out;
  const Status status = verify_census(5, kDefaultBudget, out);
  ASSERT_TRUE(status) << status.error();
  EXPECT_EQ(out.str(), kSmallCensusLines +
                           "PASS: exhaustive census through k=5 checked 3039 candidate sets "
                           "(19963 exhaustive DFS nodes)\n");
  std::ostringstream again;
  ASSERT_TRUE(verify_census(5, kDefaultBudget, again));
  EXPECT_EQ(again.str(), out.str());
}

TEST(SmallCensus, ATooSmallBudgetStopsItAfterTheFinishedSizes) {
  std::ostringstream out;
  const Status status = verify_census(5, 1, out);
  EXPECT_EQ(status.error(), "full-cover search for [2, 3, 4] exceeded 1 nodes");
  EXPECT_EQ(out.str(), "census k=1: 0 irreducible sets: []\ncensus k=2: 0 irreducible sets: []\n");
}

TEST(SmallCensus, AFoundListUnlikeTheExpectedOneIsAMismatch) {
  struct Case {
    std::vector<ModuliSetList> expected_by_size;
    std::string error;
    std::string printed;
  };
  const std::vector<Case> cases = {
      {{{}, {}, {}, {}, {}},
       "small census mismatch at k=5: computed [[2, 3, 4, 6, 12]], expected []",
       kSmallCensusLines.substr(0, kSmallCensusLines.rfind("census k=5"))},
      {{{}, {}, {}, {{2, 3, 4, 8}}, {{2, 3, 4, 6, 12}}},
       "small census mismatch at k=4: computed [], expected [[2, 3, 4, 8]]",
       "census k=1: 0 irreducible sets: []\ncensus k=2: 0 irreducible sets: []\n"
       "census k=3: 0 irreducible sets: []\n"},
      {{{}, {}, {}, {}, {{2, 3, 4, 6, 12}, {2, 3, 4, 6, 24}}},
       "small census mismatch at k=5: computed [[2, 3, 4, 6, 12]], expected [[2, 3, 4, 6, 12], "
       "[2, 3, 4, 6, 24]]",
       kSmallCensusLines.substr(0, kSmallCensusLines.rfind("census k=5"))},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(verify_census_against(5, kDefaultBudget, c.expected_by_size, out).error(), c.error);
    EXPECT_EQ(out.str(), c.printed);
  }
}

TEST(K7Census, ReportsItsFifteenSets) {
  std::ostringstream out;
  const Status status = verify_k7_census(kDefaultBudget, out);
  ASSERT_TRUE(status) << status.error();
  EXPECT_EQ(out.str(), "census k=7: 15 irreducible sets: " + kK7Sets +
                           "\n"
                           "k=7 extrema: minimum largest modulus=36; maximum largest modulus=48; "
                           "maximum reciprocal sum=35/24\n"
                           "PASS: exhaustive k=7 common-multiple census checked 378 candidate "
                           "sets (329805 exhaustive DFS nodes)\n");
}

TEST(K7Census, FailsBeforePrintingAnything) {
  const ModuliSetList expected = k7_census_expected_sets();
  // The same sets with the last one moved to the front.
  ModuliSetList rotated = expected;
  std::rotate(rotated.begin(), rotated.end() - 1, rotated.end());
  // The expected sets plus two reducible ones: the right found list from the
  // wrong number of candidates.
  ModuliSetList padded = expected;
  padded.push_back({2, 3, 4, 6, 8, 12, 24});
  padded.push_back({3, 5, 7, 9, 11, 13, 15});
  std::sort(padded.begin(), padded.end());

  struct Case {
    std::string name;
    ModuliSetList candidates;
    ModuliSetList expected;
    std::uint64_t budget;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"order matters", expected, rotated, kDefaultBudget,
       "k=7 census mismatch: computed " + kK7Sets + ", expected [[2, 4, 8, 12, 16, 24, 48], " +
           kK7Sets.substr(1, kK7Sets.find(", [2, 4, 8, 12") - 1) + "]"},
      {"candidate count", padded, expected, kDefaultBudget,
       "k=7 aggregate mismatch: candidates=17, min=Some(36), max=Some(48), reciprocal=(35, 24)"},
      {"nothing found",
       {{3, 5, 7, 9, 11, 13, 15}},
       {},
       kDefaultBudget,
       "k=7 aggregate mismatch: candidates=1, min=None, max=None, reciprocal=(0, 1)"},
      {"budget", expected, expected, 2,
       "full-cover search for [2, 3, 4, 6, 8, 16, 48] exceeded 2 nodes"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(verify_k7_census_of(c.candidates, c.expected, c.budget, out).error(), c.error)
        << c.name;
    EXPECT_EQ(out.str(), "") << c.name;
  }
}

TEST(K8Census, AFixtureThatDoesNotParseOrCountStopsItAtOnce) {
  const std::string fixture(embedded_fixture_text(8));
  const std::string without_last = fixture.substr(0, fixture.rfind('\n', fixture.size() - 2) + 1);
  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"", "expected k=8 fixture has 0 sets, not 65"},
      {without_last, "expected k=8 fixture has 64 sets, not 65"},
      {"2 3 4\n", "expected-set line 1 is not 8 strictly increasing moduli: [2, 3, 4]"},
      {fixture + fixture, "expected sets are not strictly lexicographically sorted"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    // A budget of 1 would fail the first search: these fail before any.
    EXPECT_EQ(verify_k8_census_with(c.text, 1, out).error(), c.error);
    EXPECT_EQ(out.str(), "");
  }
}

TEST(K8Census, FoundListAndAggregateAreCheckedInTurn) {
  const CensusSize& figures = *census_of_size(8);
  const ModuliSetList fixture = k8_fixture_sets();
  ASSERT_EQ(fixture.size(), 65u);
  ModuliSetList one_row_changed = fixture;
  one_row_changed.back() = {2, 4, 8, 16, 24, 32, 48, 192};
  const ModuliSetList one_row_less(fixture.begin() + 1, fixture.end());

  struct Case {
    std::string name;
    ModuliSetList candidates;
    ModuliSetList expected;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"a differing set", fixture, one_row_changed,
       "k=8 census mismatch: computed 65 sets, expected 65"},
      {"a missing set", one_row_less, fixture,
       "k=8 census mismatch: computed 64 sets, expected 65"},
      {"candidate count", fixture, fixture,
       "k=8 aggregate mismatch: candidates=65, min=Some(36), max=Some(96), reciprocal=(14, 9)"},
      {"extrema", one_row_less, one_row_less,
       "k=8 aggregate mismatch: candidates=64, min=Some(36), max=Some(96), reciprocal=(55, 36)"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(
        verify_fixture_census_of(figures, c.candidates, c.expected, kDefaultBudget, out).error(),
        c.error)
        << c.name;
    EXPECT_EQ(out.str(), "") << c.name;
  }
}

// The whole k = 8 census, whose report this is with its own node count, runs
// through the program in progress_test.
TEST(FixtureCensusReport, HasTheCensusExtremaAndPassLines) {
  const ModuliSetList fixture = k8_fixture_sets();
  const auto report = fixture_census_report(*census_of_size(8), fixture, fixture, 7443, 123456);
  ASSERT_TRUE(report) << report.error();
  EXPECT_EQ(*report,
            "census k=8: 65 irreducible sets (exact list in fixtures/k8_expected.txt)\n"
            "k=8 extrema: minimum largest modulus=36; maximum largest modulus=96; maximum "
            "reciprocal sum=14/9\n"
            "PASS: exhaustive k=8 common-multiple census checked 7443 candidate sets (123456 "
            "exhaustive DFS nodes)\n");
}

TEST(CensusScan, KeepsTheFirstErrorSumsNodesAndMovesFoundSets) {
  CensusScan scan("k=9 census node counter overflow");
  ModuliSet a = {2, 3, 4, 6, 12};
  ModuliSet b = {2, 3, 4, 6};
  ASSERT_TRUE(scan.take(IrreducibleDecision{true, 59}, a));
  ASSERT_TRUE(scan.take(IrreducibleDecision{false, 16}, b));
  EXPECT_EQ(scan.nodes(), 75u);
  EXPECT_EQ(scan.found(), (ModuliSetList{{2, 3, 4, 6, 12}}));
  EXPECT_TRUE(a.empty());  // moved, not copied
  EXPECT_EQ(b.size(), 4u);

  ModuliSet c = {5};
  EXPECT_EQ(scan.take(Result<IrreducibleDecision>(fail("some search failed")), c).error(),
            "some search failed");
  EXPECT_EQ(scan.take(IrreducibleDecision{false, UINT64_MAX - 75}, c).ok(), true);
  EXPECT_EQ(scan.take(IrreducibleDecision{false, 1}, c).error(),
            "k=9 census node counter overflow");
  EXPECT_EQ(scan.take_found(), (ModuliSetList{{2, 3, 4, 6, 12}}));
  EXPECT_TRUE(scan.found().empty());
}

// The whole k = 6 census decides 739320 candidates, under a second in an
// optimised build.
TEST(HeavySmallCensus, SixReportsItsFourSetsAndExtrema) {
  std::ostringstream out;
  const Status status = verify_census(6, kDefaultBudget, out);
  ASSERT_TRUE(status) << status.error();
  EXPECT_EQ(out.str(),
            kSmallCensusLines +
                "census k=6: 4 irreducible sets: [[2, 3, 4, 6, 8, 24], [2, 3, 4, 8, 12, 24], "
                "[2, 3, 6, 8, 12, 24], [2, 4, 6, 8, 12, 24]]\n"
                "k=6 extrema: minimum largest modulus=24; maximum largest modulus=24; maximum "
                "reciprocal sum=17/12\n"
                "PASS: exhaustive census through k=6 checked 739320 candidate sets (5013459 "
                "exhaustive DFS nodes)\n");
}

}  // namespace
}  // namespace tilvane
