// Exploring a census space: the exact count of a space against what its
// enumeration builds, the ledger's order-independence, and the checkpoint's
// round trip, damage detection and refusal of another run's checkpoint.
#include "census/exploration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "census/checkpoint.h"
#include "census/space.h"

namespace tilvane {
namespace {

TEST(CensusSpace, CountsExactlyWhatTheEnumerationBuilds) {
  struct Case {
    SpaceKind kind;
    std::size_t k;
    std::uint64_t bound;
    std::uint64_t count;
  };
  const std::vector<Case> cases = {
      {SpaceKind::CommonMultiples, 1, 2, 1},    {SpaceKind::CommonMultiples, 5, 16, 1},
      {SpaceKind::CommonMultiples, 7, 64, 378}, {SpaceKind::CommonMultiples, 8, 128, 7443},
      {SpaceKind::Simpson, 1, 100, 0},          {SpaceKind::Simpson, 5, 12, 1},
      {SpaceKind::Simpson, 10, 512, 28457},
  };
  for (const Case& c : cases) {
    const CensusSpace space{c.kind, c.k, c.bound};
    auto counted = count_space(space);
    ASSERT_TRUE(counted) << describe_space(space) << ": " << counted.error();
    auto built = space_candidates(space);
    ASSERT_TRUE(built) << built.error();
    EXPECT_EQ(built->size(), *counted) << describe_space(space);
    EXPECT_EQ(*counted, c.count) << describe_space(space);
    EXPECT_TRUE(std::is_sorted(built->begin(), built->end()));
  }
}

TEST(CensusSpace, RefusesWhatTheSearchesCannotTake) {
  struct Case {
    CensusSpace space;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{SpaceKind::Simpson, 0, 512}, "size must be at least 1"},
      {{SpaceKind::Simpson, 33, 512}, "size 33 exceeds the searches' limit of 32 moduli"},
      {{SpaceKind::Simpson, 10, 1}, "LCM bound must be at least 2"},
      {{SpaceKind::CommonMultiples, 8, 20000001},
       "LCM bound 20000001 exceeds the searches' period limit 20000000"},
  };
  for (const Case& c : cases) {
    auto counted = count_space(c.space);
    ASSERT_FALSE(counted) << describe_space(c.space);
    EXPECT_EQ(counted.error(), c.error);
  }
}

// A small work list with one outcome of every kind.
struct Fixture {
  ModuliSetList work = {{2, 3, 5}, {2, 4, 8},         {2, 3, 4, 6, 12},
                        {3, 4, 6}, {4, 6, 8, 12, 24}, {2, 3, 4, 6, 12}};
  std::vector<CandidateOutcome> outcomes = {
      {CandidateKind::Dropped, 0, {}},
      {CandidateKind::NotCovering, 5, {}},
      {CandidateKind::Irreducible, 7, {0, 0, 1, 1, 11}},
      {CandidateKind::Reducible, 9, {}},
      {CandidateKind::Undecided, 11, {}},
      {CandidateKind::Irreducible, 2, {1, 2, 0, 4, 6}},
  };
};

TEST(ExplorationLedger, TallyDependsOnlyOnTheOutcomesNotOnTheirOrder) {
  const Fixture f;
  ExplorationLedger in_order(f.work, {});
  for (std::size_t i = 0; i < f.work.size(); ++i) ASSERT_TRUE(in_order.record(i, f.outcomes[i]));
  ASSERT_TRUE(in_order.complete());
  const ExplorationTally& t = in_order.tally();
  EXPECT_EQ(t.dropped, 1u);
  EXPECT_EQ(t.searched, 5u);
  EXPECT_EQ(t.nodes, 34u);
  ASSERT_EQ(t.found.size(), 2u);
  EXPECT_EQ(t.found[1], (FoundSet{{2, 3, 4, 6, 12}, {1, 2, 0, 4, 6}}));
  EXPECT_EQ(t.undecided, (ModuliSetList{{4, 6, 8, 12, 24}}));

  std::vector<std::size_t> order = {0, 1, 2, 3, 4, 5};
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    std::shuffle(order.begin(), order.end(), random);
    ExplorationLedger shuffled(f.work, {});
    for (std::size_t i : order) ASSERT_TRUE(shuffled.record(i, f.outcomes[i]));
    EXPECT_EQ(shuffled.tally(), t);
  }
}

TEST(ExplorationLedger, RefusesAnOutcomeTwiceOrOutsideOrWithWrongResidues) {
  const Fixture f;
  ExplorationLedger ledger(f.work, {});
  ASSERT_TRUE(ledger.record(1, f.outcomes[1]));
  EXPECT_FALSE(ledger.record(1, f.outcomes[1]));
  EXPECT_FALSE(ledger.record(6, f.outcomes[1]));
  EXPECT_FALSE(ledger.record(3, {CandidateKind::Reducible, 1, {0, 0}}));
  ASSERT_TRUE(ledger.record(0, f.outcomes[0]));
  EXPECT_EQ(ledger.next(), 2u);
  EXPECT_FALSE(ledger.record(0, f.outcomes[0]));
  // A certificate is checked against its candidate as it is folded in.
  EXPECT_FALSE(ledger.record(2, {CandidateKind::Irreducible, 1, {0, 0}}));
}

Checkpoint sample_checkpoint() {
  const Fixture f;
  ExplorationLedger ledger(f.work, {});
  for (std::size_t i = 0; i < 5; ++i) EXPECT_TRUE(ledger.record(i, f.outcomes[i]));
  Checkpoint c;
  c.program_version = "1.2.3";
  c.plan = {{SpaceKind::CommonMultiples, 5, 128}, SearchKind::Exact, 1000, 3};
  c.work_count = f.work.size();
  c.tally = ledger.tally();
  c.elapsed_ms = 4321;
  return c;
}

TEST(Checkpoint, ReadsBackWhatItWrote) {
  const Checkpoint c = sample_checkpoint();
  auto read = parse_checkpoint(render_checkpoint(c));
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(*read, c);
  EXPECT_TRUE(check_checkpoint_matches(*read, "1.2.3", c.plan, c.work_count));
}

TEST(Checkpoint, EveryAlteredByteAndEveryCutIsDamage) {
  const std::string text = render_checkpoint(sample_checkpoint());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string altered = text;
    altered[i] = static_cast<char>(altered[i] ^ 0x01);
    auto read = parse_checkpoint(altered);
    ASSERT_FALSE(read) << "byte " << i;
    EXPECT_TRUE(read.error().starts_with("checkpoint is damaged")) << read.error();
    EXPECT_FALSE(parse_checkpoint(text.substr(0, i))) << "cut at " << i;
  }
}

TEST(Checkpoint, AnotherRunsCheckpointIsRefused) {
  const Checkpoint c = sample_checkpoint();
  ExplorationPlan other_search = c.plan;
  other_search.search = SearchKind::Decide;
  ExplorationPlan other_space = c.plan;
  other_space.space.bound = 256;
  ExplorationPlan other_budget = c.plan;
  other_budget.max_nodes = 0;
  EXPECT_FALSE(check_checkpoint_matches(c, "1.2.4", c.plan, c.work_count));
  EXPECT_FALSE(check_checkpoint_matches(c, "1.2.3", other_search, c.work_count));
  EXPECT_FALSE(check_checkpoint_matches(c, "1.2.3", other_space, c.work_count));
  EXPECT_FALSE(check_checkpoint_matches(c, "1.2.3", other_budget, c.work_count));
  const Status other_work = check_checkpoint_matches(c, "1.2.3", c.plan, c.work_count + 1);
  ASSERT_FALSE(other_work);
  EXPECT_EQ(other_work.error(), "checkpoint belongs to another run: 6 candidates, this run has 7");
}

}  // namespace
}  // namespace tilvane
