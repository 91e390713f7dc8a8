// The parallel census: decisions on the pool equal those made one by one, the
// report and the error text do not depend on the number of workers, and a
// bad fixture stops the census before any candidate is generated. The full
// census runs for k = 9 and 10 are heavy, the one for k = 11 slow.
#include "census/parallel_census.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "census/embedded_fixtures.h"
#include "census/simpson.h"
#include "census/worker_pool.h"
#include "engine/irreducibility.h"
#include "program_run.h"
#include "test_files.h"

namespace tilvane {
namespace {

std::unique_ptr<WorkerPool> started_pool(std::size_t workers) {
  auto pool = WorkerPool::start(workers);
  EXPECT_TRUE(pool.ok()) << pool.error();
  return std::move(pool).value();
}

// Every stride-th set of 9 moduli with lcm at most 256 that Simpson's bound
// leaves as a possible cover (2827 sets, all among the k = 9 candidates),
// from offset on.
ModuliSetList k9_sample(std::size_t stride, std::size_t offset) {
  const ModuliSetList all = candidates_via_simpson(9, 256).value();
  ModuliSetList sample;
  for (std::size_t i = offset; i < all.size(); i += stride) sample.push_back(all[i]);
  return sample;
}

std::string slot_text(const Result<IrreducibleDecision>& slot) {
  if (!slot) return "error " + slot.error();
  return std::string(slot->irreducible ? "irreducible " : "reducible ") +
         std::to_string(slot->nodes);
}

TEST(DecideAllParallel, SlotsHoldTheDecisionsMadeOneByOne) {
  // A budget that some of these candidates exceed, so error slots occur too.
  const std::uint64_t max_nodes = 20000;
  const ModuliSetList candidates = k9_sample(151, 7);
  std::vector<std::string> expected;
  for (const ModuliSet& c : candidates) {
    expected.push_back(slot_text(decide_irreducible_moduli(c, max_nodes)));
  }
  for (std::size_t workers : {1u, 3u}) {
    auto pool = started_pool(workers);
    const DecisionSlots slots = decide_all_parallel(*pool, candidates, max_nodes);
    ASSERT_EQ(slots.size(), candidates.size());
    for (std::size_t i = 0; i < slots.size(); ++i) {
      EXPECT_EQ(slot_text(slots[i]), expected[i]) << workers << " workers, candidate " << i;
    }
  }
}

// A well-formed fixture text of count sets of size k: 2, 3, ..., k and then
// 1000 + i on line i. It passes the count check without being the real list.
std::string synthetic_fixture(std::size_t k, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t m = 2; m <= k; ++m) text += std::to_string(m) + " ";
    text += std::to_string(1000 + i) + "\n";
  }
  return text;
}

// The census for k on a given pool and candidate list, checked against a
// synthetic fixture of the right size (kept alive by the caller).
ParallelCensus census_with(std::size_t k, const std::string& fixture, WorkerPool* pool,
                           std::function<Result<ModuliSetList>()> generate) {
  ParallelCensus census = standard_parallel_census(k);
  census.fixture_text = fixture;
  census.pool = pool;
  census.generate_candidates = std::move(generate);
  return census;
}

TEST(ParallelCensus, EarliestFailingCandidateInOrderWinsWhateverTheWorkers) {
  const std::uint64_t max_nodes = 3000;
  // Two sets too sparse to cover lead, so the first failure is not the first
  // candidate; the sample behind them has failures scattered through it.
  ModuliSetList candidates = {{20, 21, 22, 23, 24, 25, 26, 27, 28},
                              {30, 31, 32, 33, 34, 35, 36, 37, 38}};
  for (ModuliSet& c : k9_sample(53, 0)) candidates.push_back(std::move(c));
  const std::string fixture = synthetic_fixture(9, 318);
  std::vector<std::size_t> failing;
  std::string earliest;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    auto decision = decide_irreducible_moduli(candidates[i], max_nodes);
    if (decision.ok()) continue;
    if (failing.empty()) earliest = decision.error();
    failing.push_back(i);
  }
  ASSERT_GE(failing.size(), 3u);
  ASSERT_GT(failing.front(), 0u);

  for (std::size_t workers : {1u, 2u, 5u}) {
    auto pool = started_pool(workers);
    std::ostringstream out;
    const Status status = run_parallel_census(
        census_with(9, fixture, pool.get(), [&] { return Result<ModuliSetList>(candidates); }),
        max_nodes, out);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(), earliest) << workers << " workers";
    EXPECT_EQ(out.str(), "");
  }
}

// Each failure ends the census without a report. A fixture problem stops it
// before any candidate is generated; a generation error is returned
// unchanged; findings that differ from the fixture are a mismatch (one
// irreducible set among sets too sparse to cover, where the fixture has 318).
TEST(ParallelCensus, FailuresOfFixtureGenerationOrFindingsEndItWithoutAReport) {
  struct Case {
    std::size_t k;
    std::string fixture;
    Result<ModuliSetList> candidates;
    std::string error;
    bool generates;
  };
  const ModuliSetList none;
  const ModuliSetList one_irreducible = {{2, 3, 4, 5, 6, 10, 15, 20, 30},
                                         {20, 21, 22, 23, 24, 25, 26, 27, 28},
                                         {30, 31, 32, 33, 34, 35, 36, 37, 38}};
  const std::vector<Case> cases = {
      {9, "", none, "expected k=9 fixture has 0 sets, not 318", false},
      {9, "2 3 4 5 6 10 15 20 30\n", none, "expected k=9 fixture has 1 sets, not 318", false},
      {10, "\n\n", none, "expected k=10 fixture has 0 sets, not 2102", false},
      {11, "2 3 4 5 6 8 10 15 16 20 80\n", none, "expected k=11 fixture has 1 sets, not 17040",
       false},
      {9, "\n2 3 x\n", none, "invalid expected-set token \"x\" on line 2", false},
      {10, "2 3 4\n", none, "expected-set line 1 is not 10 strictly increasing moduli: [2, 3, 4]",
       false},
      {10, synthetic_fixture(10, 2102),
       fail("internal duplicate in exact-LCM candidate enumeration"),
       "internal duplicate in exact-LCM candidate enumeration", true},
      {9, synthetic_fixture(9, 318), one_irreducible,
       "k=9 census mismatch: computed 1 sets, expected 318", true},
  };
  auto pool = started_pool(2);
  for (const Case& c : cases) {
    bool generated = false;
    ParallelCensus census = census_with(c.k, c.fixture, pool.get(), [&] {
      generated = true;
      return c.candidates;
    });
    std::ostringstream out;
    const Status status = run_parallel_census(census, 50000000, out);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(), c.error);
    EXPECT_EQ(generated, c.generates) << c.error;
    EXPECT_EQ(out.str(), "");
  }
}

TEST(ParallelCensus, OnlySizesNineToElevenHaveCandidateListsBeyondEight) {
  for (std::size_t k : {0u, 1u, 7u, 12u}) {
    auto candidates = fixture_census_candidates(k);
    ASSERT_FALSE(candidates.ok());
    EXPECT_EQ(candidates.error(), "no census candidates for k=" + std::to_string(k));
  }
}

// Runs the program with one census option, optionally pinned to a single CPU
// of this process's mask (as taskset -c would); it must pass with report.
void expect_census_report(const std::string& option, const std::string& report,
                          bool one_cpu = false) {
  testing::ProgramOptions options = testing::with_args({option});
  options.one_cpu = one_cpu;
  const testing::ProgramOutcome run = testing::run_program(options);
  EXPECT_EQ(run.err, "") << option;
  EXPECT_EQ(run.status, 0) << option;
  EXPECT_EQ(run.out, report) << option;
}

TEST(HeavyParallelCensus, K8ThroughThePoolGivesTheSameReportWithOneWorkerAndTwo) {
  const std::string expected =
      "census k=8: 65 irreducible sets (exact list in fixtures/k8_expected.txt)\n"
      "k=8 extrema: minimum largest modulus=36; maximum largest modulus=96; maximum reciprocal "
      "sum=14/9\n"
      "PASS: exhaustive k=8 common-multiple census checked 7443 candidate sets (32942353 "
      "exhaustive DFS nodes)\n";
  for (std::size_t workers : {1u, 2u}) {
    auto pool = started_pool(workers);
    ParallelCensus census = standard_parallel_census(8);
    census.pool = pool.get();
    std::ostringstream out;
    const Status status = run_parallel_census(census, 50000000, out);
    ASSERT_TRUE(status.ok()) << status.error();
    EXPECT_EQ(out.str(), expected) << workers << " workers";
  }
}

TEST(HeavyParallelCensus, K9ReportIsTheSameOnOneCpuAndOnAll) {
  const std::string report = testing::read_file(std::filesystem::path(TILVANE_SOURCE_DIR) /
                                                "tests/expected/k9_census_report.txt");
  for (bool one_cpu : {false, true}) expect_census_report("--verify-k9-census", report, one_cpu);
}

TEST(HeavyParallelCensus, K10CensusPasses) {
  expect_census_report(
      "--verify-k10-census",
      "census k=10: 2102 irreducible sets (exact list in fixtures/k10_expected.txt)\n"
      "k=10 extrema: minimum largest modulus=30; maximum largest modulus=384; maximum "
      "reciprocal sum=109/60\n"
      "PASS: exhaustive k=10 Simpson-filtered common-multiple census checked 28457 candidate "
      "sets (6727789447 exhaustive DFS nodes)\n");
}

TEST(SlowParallelCensus, K11CensusPasses) {
  expect_census_report(
      "--verify-k11-census",
      "census k=11: 17040 irreducible sets (exact list in fixtures/k11_expected.txt)\n"
      "k=11 extrema: minimum largest modulus=36; maximum largest modulus=768; maximum "
      "reciprocal sum=28/15\n"
      "PASS: exhaustive k=11 Simpson-filtered exact-LCM census checked 343875 candidate "
      "sets (721471392335 exhaustive DFS nodes)\n");
}

}  // namespace
}  // namespace tilvane
