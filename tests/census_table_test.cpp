// The census table: the lines and messages rendered from its figures, and its
// counts bound to the generators and fixtures they describe.
#include "census/census_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/rendering.h"
#include "census/embedded_fixtures.h"
#include "census/fixtures.h"

namespace tilvane {
namespace {

#if TILVANE_REDUCED
constexpr std::size_t kLargestSize = 8;
#else
constexpr std::size_t kLargestSize = 11;
#endif

TEST(CensusTable, ExtremaLinesAreTheFixedReportLines) {
  const std::vector<std::string> lines = {
      "k=6 extrema: minimum largest modulus=24; maximum largest modulus=24; maximum reciprocal "
      "sum=17/12\n",
      "k=7 extrema: minimum largest modulus=36; maximum largest modulus=48; maximum reciprocal "
      "sum=35/24\n",
      "k=8 extrema: minimum largest modulus=36; maximum largest modulus=96; maximum reciprocal "
      "sum=14/9\n",
      "k=9 extrema: minimum largest modulus=30; maximum largest modulus=192; maximum reciprocal "
      "sum=17/10\n",
      "k=10 extrema: minimum largest modulus=30; maximum largest modulus=384; maximum reciprocal "
      "sum=109/60\n",
      "k=11 extrema: minimum largest modulus=36; maximum largest modulus=768; maximum reciprocal "
      "sum=28/15\n",
  };
  EXPECT_EQ(extrema_line(*census_of_size(5)), "");
  for (std::size_t k = 6; k <= kLargestSize; ++k) {
    EXPECT_EQ(extrema_line(*census_of_size(k)), lines[k - 6]);
  }
  EXPECT_EQ(census_of_size(kLargestSize + 1), nullptr);
  EXPECT_EQ(census_of_option("--verify-k" + std::to_string(kLargestSize + 1) + "-census"), nullptr);
  EXPECT_EQ(census_of_option("--verify-small-census"), census_of_size(5));
}

// Each census space holds the number of candidates its report states; the
// small census counts every size up to its own. The k = 11 space is counted
// by its own heavy test and by its census.
TEST(CensusTable, CandidateCountsAreTheSizesOfTheSpaces) {
  for (const CensusSize& census : census_table()) {
    if (census.space.k == 11) continue;
    std::size_t count = 0;
    const std::size_t first = census.space.kind == SpaceKind::Subsets ? 1 : census.space.k;
    for (std::size_t k = first; k <= census.space.k; ++k) {
      CensusSpace space = census.space;
      space.k = k;
      space.bound = std::uint64_t{1} << (k - 1);
      auto candidates = space_candidates(space);
      ASSERT_TRUE(candidates) << candidates.error();
      count += candidates->size();
    }
    EXPECT_EQ(count, census.candidate_count) << census.option;
  }
}

TEST(CensusTable, FixtureCountsAreCheckedAgainstTheParsedSets) {
  for (const CensusSize& census : census_table()) {
    if (census.fixture_file.empty()) continue;
    const std::size_t k = census.space.k;
    EXPECT_EQ(census.fixture_file, "fixtures/k" + std::to_string(k) + "_expected.txt");
    EXPECT_EQ(check_fixture_count(census, census.fixture_count + 1).error(),
              "expected k=" + std::to_string(k) + " fixture has " +
                  std::to_string(census.fixture_count + 1) + " sets, not " +
                  std::to_string(census.fixture_count));
    auto embedded = load_expected_sets(embedded_fixture_text(k), census);
    ASSERT_TRUE(embedded) << embedded.error();
    EXPECT_EQ(embedded->size(), census.fixture_count);
  }
  const CensusSize& k8 = *census_of_size(8);
  EXPECT_EQ(load_expected_sets("", k8).error(), "expected k=8 fixture has 0 sets, not 65");
  EXPECT_EQ(load_expected_sets("2 3 x\n", k8).error(),
            "invalid expected-set token \"x\" on line 1");
}

TEST(CensusTable, AggregateMismatchNamesWhatWasFound) {
  struct Case {
    std::size_t k;
    ModuliSetList found;
    std::size_t candidates;
    std::string outcome;
  };
  const std::vector<Case> cases = {
      {6, {{2, 3, 4, 6, 8, 24}}, 5, "ok"},  // the small census compares no candidate count
      {6,
       {{2, 3, 4, 6, 12}},
       0,
       "k=6 extrema mismatch: min=Some(12), max=Some(12), reciprocal=(4, 3)"},
      {6,
       {{2, 3, 4, 6, 8, 24}, {2, 3, 4, 6, 8, 48}},
       0,
       "k=6 extrema mismatch: min=Some(24), max=Some(48), reciprocal=(17, 12)"},
      {6,
       {{UINT64_MAX - 2, UINT64_MAX - 1, UINT64_MAX}},
       0,
       "reciprocal-sum overflow in k=6 answers"},
      {6, {{UINT64_MAX - 1, UINT64_MAX}, {2, 3}}, 0, "fraction comparison overflow"},
      {8,
       {},
       7443,
       "k=8 aggregate mismatch: candidates=7443, min=None, max=None, reciprocal=(0, 1)"},
      {8, {{UINT64_MAX - 1, UINT64_MAX}, {2, 3}}, 7443, "k=8 fraction comparison overflow"},
      {7,
       {{UINT64_MAX - 2, UINT64_MAX - 1, UINT64_MAX}},
       1,
       "reciprocal-sum overflow in k=7 answers"},
      {5, {}, 0, "ok"},  // nothing to compare
  };
  for (const Case& c : cases) {
    const Status status = check_aggregate(*census_of_size(c.k), c.found, c.candidates);
    EXPECT_EQ(status ? "ok" : status.error(), c.outcome) << "k=" << c.k;
  }
}

}  // namespace
}  // namespace tilvane
