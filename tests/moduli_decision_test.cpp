// The moduli search against the literal search, with each technique off,
// and every answer confirmed: coverings by the cover check, refutations by
// the independent trace checker.
#include "engine/moduli_decision.h"

#include <gtest/gtest.h>

#include <vector>

#include "census_tool/least_lcm.h"
#include "census_tool/moduli_options.h"
#include "engine/congruence.h"
#include "engine/cover_check.h"
#include "engine/orbit_branching.h"
#include "engine/period.h"
#include "engine/residue_search.h"
#include "engine/unit_orbits.h"
#include "proof_check/proof_check.h"

namespace tilvane {
namespace {

std::vector<ModuliOptions> technique_variants() {
  std::vector<ModuliOptions> variants(1);
  ModuliOptions none;
  for (bool ModuliOptions::*flag :
       {&ModuliOptions::bound, &ModuliOptions::fail_first, &ModuliOptions::symmetry,
        &ModuliOptions::project, &ModuliOptions::fibres, &ModuliOptions::class_branching,
        &ModuliOptions::orbits, &ModuliOptions::local_search}) {
    ModuliOptions o;
    o.*flag = false;
    none.*flag = false;
    variants.push_back(o);
  }
  variants.push_back(none);
  return variants;
}

// Small sets, covering and not, on which the literal search is quick.
const std::vector<std::vector<std::uint64_t>> kSmallSets = {
    {2, 3, 4, 6, 12},
    {3, 4, 6, 9, 12, 18, 36},
    {3, 4, 6, 8, 12, 16, 24, 48},
    {2, 3, 4, 6},
    {2, 4, 8, 16},

    {2, 3, 4, 12},
    {2, 3, 4, 8, 12, 24},
    {3, 4, 6, 8, 12, 24},
    {2, 4, 3, 6, 9, 18},
    {2, 5, 3, 4, 10, 20, 15},
    {6, 4, 9, 12, 18, 36, 2},
};

TEST(ModuliDecision, EveryTechniqueSwitchAgreesWithTheLiteralSearchAndEveryAnswerIsConfirmed) {
  for (const auto& moduli : kSmallSets) {
    const auto literal = find_cover_literal(moduli, UINT64_MAX);
    ASSERT_TRUE(literal.ok());
    const bool covers = literal->outcome == SearchOutcome::Found;
    for (const ModuliOptions& options : technique_variants()) {
      TraceText trace;
      const auto decision = decide_moduli(moduli, UINT64_MAX, options, &trace);
      ASSERT_TRUE(decision.ok()) << decision.error();
      ASSERT_EQ(decision->outcome == ModuliOutcome::Covering, covers) << moduli.size();
      if (covers) {
        std::vector<Congruence> cover;
        for (std::size_t j = 0; j < moduli.size(); ++j) {
          cover.push_back({moduli[j], decision->residues[j]});
        }
        EXPECT_TRUE(verify_displayed_cover(cover, decision->period).ok());
      } else {
        const ProofCheck check = check_refutation_file(trace.text());
        EXPECT_TRUE(check.verified) << check.message << "\n" << trace.text();
      }
    }
  }
}

TEST(ModuliDecision, BudgetAndStopAreReportedAndBadSetsRefused) {
  const std::vector<std::uint64_t> d720 = divisors_at_least(720, 5);
  ModuliOptions searched;
  searched.local_search = false;
  EXPECT_EQ(decide_moduli(d720, 10, searched)->outcome, ModuliOutcome::Undecided);
  const auto stopped =
      decide_moduli(d720, UINT64_MAX, searched, nullptr, [](std::uint64_t) { return false; });
  EXPECT_EQ(stopped->outcome, ModuliOutcome::Stopped);
  EXPECT_FALSE(decide_moduli(std::vector<std::uint64_t>{4, 6, 4}, 10).ok());
  EXPECT_FALSE(decide_moduli(std::vector<std::uint64_t>{0, 6}, 10).ok());
}

TEST(ModuliDecision, LocalSearchFindsTheCoveringOfALargeDivisorSetWithoutSearching) {
  for (const std::uint64_t l : {std::uint64_t{1440}, std::uint64_t{2520}}) {
    const std::vector<std::uint64_t> moduli = divisors_at_least(l, 5);
    ModuliOptions local_first;
    local_first.local_after_nodes = 0;
    const auto decision = decide_moduli(moduli, 10'000'000, local_first);
    ASSERT_TRUE(decision.ok());
    ASSERT_EQ(decision->outcome, ModuliOutcome::Covering) << l;
    EXPECT_TRUE(decision->by_local_search);
    EXPECT_EQ(decision->nodes, 0u);
    std::vector<Congruence> cover;
    for (std::size_t j = 0; j < moduli.size(); ++j)
      cover.push_back({moduli[j], decision->residues[j]});
    EXPECT_TRUE(verify_displayed_cover(cover, l).ok()) << l;
  }
}

TEST(ModuliDecision, D240WithLeastModulus4IsRefutedAndTheTraceVerifies) {
  TraceText trace;
  const auto decision = decide_moduli(divisors_at_least(240, 4), 5'000'000, {}, &trace);
  ASSERT_TRUE(decision.ok());
  ASSERT_EQ(decision->outcome, ModuliOutcome::NoCovering);
  EXPECT_GT(decision->orbit_branches, 0u);
  // One class per orbit of the stabiliser is what brings it from 113,251
  // nodes down to a few thousand.
  EXPECT_LT(decision->nodes, 5000u);
  const ProofCheck check = check_refutation_file(trace.text());
  EXPECT_TRUE(check.verified) << check.message;
}

TEST(LeastLcm, LeastModulus3GivesLcm120WithEveryLBelowConfirmed) {
  TraceText trace;
  const auto scan = scan_least_lcm(3, 1000, UINT64_MAX, {}, &trace);
  ASSERT_TRUE(scan.ok());
  ASSERT_TRUE(scan->least.has_value());
  EXPECT_EQ(*scan->least, 120u);
  std::vector<std::uint64_t> refuted;
  for (const LeastLcmStep& step : scan->searched) {
    if (step.decision.outcome == ModuliOutcome::NoCovering) refuted.push_back(step.l);
  }
  EXPECT_EQ(refuted, (std::vector<std::uint64_t>{24, 36, 48, 60, 72, 84, 90, 96, 108}));
  const ProofCheck check = check_refutation_file(trace.text());
  EXPECT_TRUE(check.verified) << check.message;
  EXPECT_EQ(check.traces + check.density, 120u - 3u);
}

TEST(LeastLcm, LeastModulus4GivesLcm360WithEveryLBelowConfirmed) {
  TraceText trace;
  const auto scan = scan_least_lcm(4, 1000, UINT64_MAX, {}, &trace);
  ASSERT_TRUE(scan.ok());
  ASSERT_TRUE(scan->least.has_value());
  EXPECT_EQ(*scan->least, 360u);
  const ProofCheck check = check_refutation_file(trace.text());
  EXPECT_TRUE(check.verified) << check.message;
  EXPECT_EQ(check.traces, 9u);
  EXPECT_EQ(check.traces + check.density, 360u - 4u);
}

TEST(LeastLcm, SlowLeastModulus5GivesLcm1440WithEveryLBelowConfirmed) {
  TraceText trace;
  const auto scan = scan_least_lcm(5, 2000, UINT64_MAX, {}, &trace);
  ASSERT_TRUE(scan.ok());
  ASSERT_TRUE(scan->least.has_value());
  EXPECT_EQ(*scan->least, 1440u);
  const ProofCheck check = check_refutation_file(trace.text());
  EXPECT_TRUE(check.verified) << check.message;
  EXPECT_EQ(check.traces, 19u);
  EXPECT_EQ(check.traces + check.density, 1440u - 5u);
}

TEST(ModuliDecision, UnitOrbitsOfASecondModulusAreTheDivisorsOfTheCommonFactor) {
  EXPECT_EQ(unit_orbit_classes(240, 16), (std::vector<std::uint64_t>{0, 1, 2, 4, 8}));
  EXPECT_EQ(unit_orbit_classes(12, 8), (std::vector<std::uint64_t>{1, 2, 4}));
  EXPECT_EQ(unit_orbit_classes(4, 5), (std::vector<std::uint64_t>{1}));
}

TEST(ModuliDecision, StabilisersShrinkAsClassesAreFixedAndTheirOrbitsCoverEveryClass) {
  using Units = std::vector<std::uint32_t>;
  const Units all = units_modulo(24);
  EXPECT_EQ(all, (Units{1, 5, 7, 11, 13, 17, 19, 23}));
  std::vector<std::uint8_t> seen;
  struct Case {
    std::uint32_t m, c;  // the class fixed
    Units kept;
    std::uint32_t next;  // the modulus whose orbits are taken then
    Units reps;
  };
  const Case cases[] = {
      {8, 0, all, 8, {0, 1, 2, 4}},
      {8, 1, {1, 17}, 3, {0, 1}},
      {4, 3, {1, 5, 13, 17}, 6, {0, 1, 2, 3}},
      {3, 2, {1, 7, 13, 19}, 8, {0, 1, 2, 4}},
      {12, 5, {1, 13}, 8, {0, 1, 2, 3, 4, 6}},
  };
  for (const Case& c : cases) {
    const Units kept = class_stabiliser(all, c.m, c.c);
    EXPECT_EQ(kept, c.kept) << c.m << " " << c.c;
    EXPECT_EQ(orbit_representatives(kept, c.next, seen), c.reps) << c.m << " " << c.c;
  }
}

TEST(LeastLcm, DivisorsAtLeastAndModuliListsParse) {
  EXPECT_EQ(divisors_at_least(36, 4), (std::vector<std::uint64_t>{4, 6, 9, 12, 18, 36}));
  EXPECT_EQ(*parse_moduli_list(" 4,5  6\n8"), (std::vector<std::uint64_t>{4, 5, 6, 8}));
  for (const char* bad : {"", "4 4", "1 2", "4 x", "-3"}) {
    EXPECT_FALSE(parse_moduli_list(bad).ok()) << bad;
  }
}

}  // namespace
}  // namespace tilvane
