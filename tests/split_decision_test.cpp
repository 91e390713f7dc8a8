// The moduli search split into subproblems: the same answer, node count and
// trace as the whole search, for any number of workers, through a stop and
// a resume; and the checkpoint that carries a run across a stop.
#include "census_tool/split_decision.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/text_format.h"
#include "census_tool/message_link.h"
#include "census_tool/moduli_checkpoint.h"
#include "census_tool/moduli_options.h"
#include "cli/read_file.h"
#include "engine/congruence.h"
#include "engine/cover_check.h"
#include "proof_check/proof_check.h"
#include "test_files.h"

namespace tilvane {
namespace {

struct SetCase {
  const char* name;
  std::vector<std::uint64_t> moduli;
};

// Refuted and covering sets, each decided in well under a second.
const std::vector<SetCase> kSets = {
    {"D(72, 3) refuted", divisors_at_least(72, 3)},
    {"D(180, 4) refuted", divisors_at_least(180, 4)},
    {"D(120, 3) covers", divisors_at_least(120, 3)},
    {"a small refuted set", {2, 3, 4, 8, 12, 24}},
    {"a small covering set", {2, 3, 4, 6, 12}},
};

bool covers(std::span<const std::uint64_t> moduli, const ModuliDecision& d) {
  std::vector<Congruence> cover;
  for (std::size_t j = 0; j < moduli.size(); ++j) cover.push_back({moduli[j], d.residues[j]});
  return verify_displayed_cover(cover, d.period).ok();
}

// Without the local search, which settles some of these sets before any
// split, so that every set is split.
ModuliOptions exhaustive() {
  ModuliOptions options;
  options.local_search = false;
  return options;
}

// The subproblems decided one after another in frontier order, with the
// trace put together as the proof file is.
TEST(SplitModuli, SubproblemsInFrontierOrderRetraceTheWholeSearch) {
  for (const SetCase& set : kSets) {
    for (const ModuliOptions& options : {ModuliOptions{}, exhaustive()}) {
      TraceText whole;
      const auto sequential = decide_moduli(set.moduli, UINT64_MAX, options, &whole);
      ASSERT_TRUE(sequential.ok());
      for (const std::size_t target : {std::size_t{1}, std::size_t{7}, std::size_t{200}}) {
        const auto split = split_moduli(set.moduli, UINT64_MAX, options, target, true);
        ASSERT_TRUE(split.ok()) << split.error();
        ASSERT_EQ(split->trace.size(), split->subproblems.size() + 1);
        std::string text = split->trace[0];
        ModuliDecision total = split->upper;
        bool covered = split->upper.outcome == ModuliOutcome::Covering;
        for (std::size_t i = 0; i < split->subproblems.size() && !covered; ++i) {
          TraceText piece;
          const auto part = decide_moduli_subproblem(set.moduli, split->subproblems[i], UINT64_MAX,
                                                     options, &piece);
          ASSERT_TRUE(part.ok());
          total.nodes += part->nodes;
          covered = part->outcome == ModuliOutcome::Covering;
          if (covered) {
            EXPECT_TRUE(covers(set.moduli, *part)) << set.name;
          }
          text += piece.text() + split->trace[i + 1];
        }
        EXPECT_EQ(covered, sequential->outcome == ModuliOutcome::Covering) << set.name;
        if (!covered) {
          EXPECT_EQ(total.nodes, sequential->nodes) << set.name << " target " << target;
          EXPECT_EQ(text + "end\n", whole.text()) << set.name << " target " << target;
        }
      }
    }
  }
}

TEST(SplitModuli, SubproblemsOfAFrontierAreRefusedWhenMalformed) {
  const std::vector<std::uint64_t> moduli = {2, 3, 4};
  EXPECT_FALSE(decide_moduli_subproblem(moduli, std::vector<std::uint32_t>{0, 0}, 10).ok());
  EXPECT_FALSE(decide_moduli_subproblem(moduli, std::vector<std::uint32_t>{2, 0, 0}, 10).ok());
}

using SplitDecision = testing::ScratchDir;

struct RunFacts {
  ModuliOutcome outcome;
  std::uint64_t nodes;
  std::string proof;
  std::vector<std::uint64_t> residues;
};

TEST_F(SplitDecision, OutcomeNodesAndProofAreTheSameForAnyThreadCountAndThroughAResume) {
  // Orbit branching refutes these sets too fast for a stop to catch them
  // part way.
  ModuliOptions slow = exhaustive();
  slow.orbits = false;
  int resumed = 0;
  for (const SetCase& set : kSets) {
    std::vector<RunFacts> runs;
    // Threads 1, 2, 3 straight through; then 2 threads stopped after a few
    // subproblems and resumed from the checkpoint.
    for (const int variant : {1, 2, 3, -2}) {
      const std::string proof_path = path(cat("proof-", variant));
      std::filesystem::remove(proof_path);
      auto proof = OutputFile::prepare("--proof", proof_path);
      auto checkpoint = OutputFile::prepare("--checkpoint", proof_path + ".checkpoint");
      ASSERT_TRUE(proof.ok() && checkpoint.ok());
      SplitSettings settings;
      settings.threads = variant > 0 ? static_cast<std::size_t>(variant) : 2;
      settings.target = 16;
      settings.options = slow;
      settings.proof = &*proof;
      settings.checkpoint = &*checkpoint;
      settings.run_name = "test\n";
      std::atomic<int> polls{0};
      if (variant < 0) settings.stop = [&] { return ++polls > 3; };
      auto result = decide_split(set.moduli, settings);
      ASSERT_TRUE(result.ok()) << result.error();
      if (variant < 0 && result->decision.outcome == ModuliOutcome::Stopped) {
        EXPECT_TRUE(result->checkpoint_written);
        EXPECT_TRUE(std::filesystem::exists(proof_path + ".checkpoint"));
        EXPECT_FALSE(std::filesystem::exists(proof_path)) << set.name;
        settings.stop = {};
        result = decide_split(set.moduli, settings);
        ++resumed;
        ASSERT_TRUE(result.ok()) << result.error();
      }
      EXPECT_FALSE(std::filesystem::exists(proof_path + ".checkpoint")) << set.name;
      EXPECT_FALSE(std::filesystem::exists(trace_pieces_folder(*proof))) << set.name;
      const auto text = read_text_file(proof_path);
      runs.push_back({result->decision.outcome, result->decision.nodes, text ? *text : "",
                      result->decision.residues});
    }
    TraceText whole;
    const auto sequential = decide_moduli(set.moduli, UINT64_MAX, slow, &whole);
    for (const RunFacts& run : runs) {
      EXPECT_EQ(run.outcome, runs[0].outcome) << set.name;
      EXPECT_EQ(run.nodes, runs[0].nodes) << set.name;
      EXPECT_EQ(run.residues, runs[0].residues) << set.name;
      EXPECT_EQ(run.proof, runs[0].proof) << set.name;
    }
    EXPECT_EQ(runs[0].outcome, sequential->outcome) << set.name;
    if (runs[0].outcome == ModuliOutcome::NoCovering) {
      EXPECT_EQ(runs[0].nodes, sequential->nodes) << set.name;
      EXPECT_EQ(runs[0].proof, whole.text()) << set.name;
      EXPECT_TRUE(check_refutation_file(runs[0].proof).verified) << set.name;
    } else {
      ModuliDecision d;
      d.residues = runs[0].residues;
      d.period = sequential->period;
      EXPECT_TRUE(covers(set.moduli, d)) << set.name;
    }
  }
  EXPECT_GE(resumed, 2);  // at least the two refuted sets with many subproblems
}

TEST_F(SplitDecision, HeavyD240WithLeastModulus4OnThreeThreadsGivesTheTraceOfOneSearch) {
  const std::vector<std::uint64_t> moduli = divisors_at_least(240, 4);
  TraceText whole;
  const auto sequential = decide_moduli(moduli, UINT64_MAX, {}, &whole);
  ASSERT_EQ(sequential->outcome, ModuliOutcome::NoCovering);
  auto proof = OutputFile::prepare("--proof", path("d240"));
  ASSERT_TRUE(proof.ok());
  SplitSettings settings;
  settings.threads = 3;
  settings.proof = &*proof;
  const auto result = decide_split(moduli, settings);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result->decision.nodes, sequential->nodes);
  EXPECT_EQ(*read_text_file(path("d240")), whole.text());
  EXPECT_TRUE(check_refutation_file(whole.text()).verified);
}

TEST_F(SplitDecision, ABudgetGivesTheSameUndecidedAnswerForAnyThreadCount) {
  const std::vector<std::uint64_t> moduli = divisors_at_least(240, 4);
  std::vector<std::uint64_t> nodes;
  for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
    SplitSettings settings;
    settings.threads = threads;
    settings.options = exhaustive();
    settings.max_nodes = 1000;
    const auto result = decide_split(moduli, settings);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->decision.outcome, ModuliOutcome::Undecided);
    nodes.push_back(result->decision.nodes);
  }
  EXPECT_EQ(nodes, (std::vector<std::uint64_t>(3, nodes[0])));
}

TEST_F(SplitDecision, ACheckpointOfAnotherRunOrDamagedIsRefusedAndAStrangeFolderIsKept) {
  const std::vector<std::uint64_t> moduli = divisors_at_least(72, 3);
  auto proof = OutputFile::prepare("--proof", path("proof"));
  auto checkpoint = OutputFile::prepare("--checkpoint", path("checkpoint"));
  ASSERT_TRUE(proof.ok() && checkpoint.ok());
  SplitSettings settings;
  settings.target = 16;
  settings.checkpoint = &*checkpoint;
  settings.run_name = "one run\n";
  const std::string others = render_moduli_checkpoint({"another run\n", 0, {}});
  for (const std::string& text : {others, others.substr(0, others.size() - 3), std::string("x")}) {
    testing::write_file(path("checkpoint"), text);
    const auto refused = decide_split(moduli, settings);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(*read_text_file(path("checkpoint")), text);
  }
  std::filesystem::remove(path("checkpoint"));
  std::filesystem::create_directory(trace_pieces_folder(*proof));
  testing::write_file(trace_pieces_folder(*proof) + "/mine", "keep");
  settings.proof = &*proof;
  EXPECT_FALSE(decide_split(moduli, settings).ok());
  EXPECT_EQ(*read_text_file(trace_pieces_folder(*proof) + "/mine"), "keep");
}

// Ranks as threads of one process, talking through an in-process hub as
// the ranks of a cluster run talk through MPI.
TEST_F(SplitDecision, RanksOfAClusterGiveTheProofOfOneProcessAndResumeFromItsCheckpoint) {
  const std::vector<std::uint64_t> moduli = divisors_at_least(72, 3);
  // stop_early: rank 1 is stopped after two subproblems; strange: rank 1
  // was started for another run, which both refuse.
  const auto run = [&](const std::string& proof_path, int ranks, bool stop_early,
                       bool strange = false) {
    LocalHub hub(static_cast<std::size_t>(ranks));
    auto proof = OutputFile::prepare("--proof", proof_path);
    auto checkpoint = OutputFile::prepare("--checkpoint", proof_path + ".checkpoint");
    EXPECT_TRUE(proof.ok() && checkpoint.ok());
    std::vector<SplitSettings::Cluster> roles;
    for (int r = 0; r < ranks; ++r) {
      roles.push_back(
          {r, ranks, r == 0 ? &hub.coordinator_link() : &hub.rank_link(static_cast<std::size_t>(r)),
           true});
    }
    std::atomic<int> polls{0};
    const auto settings_of = [&](int r) {
      SplitSettings settings;
      settings.target = 16;
      settings.options = exhaustive();
      settings.run_name = strange && r == 1 ? "another\n" : "test\n";
      settings.cluster = &roles[static_cast<std::size_t>(r)];
      if (r == 0) {
        settings.proof = &*proof;
        settings.checkpoint = &*checkpoint;
      }
      if (stop_early && r == 1) settings.stop = [&] { return ++polls > 2; };
      return settings;
    };
    // As the driver does: a rank whose run ends unsettled tells the others.
    const auto decide = [&](int r) {
      auto result = decide_split(moduli, settings_of(r));
      SplitSettings::Cluster& role = roles[static_cast<std::size_t>(r)];
      send_unsettled(role, result ? Result<int>(0) : Result<int>(fail(result.error())));
      return result;
    };
    std::vector<std::thread> others;
    std::vector<Result<SplitResult>> results(static_cast<std::size_t>(ranks), fail("not run"));
    for (int r = 1; r < ranks; ++r) {
      others.emplace_back([&, r] { results[static_cast<std::size_t>(r)] = decide(r); });
    }
    results[0] = decide(0);
    for (std::thread& t : others) t.join();
    if (strange) {
      EXPECT_FALSE(results[0].ok() || results[1].ok());
      return ModuliOutcome::Undecided;
    }
    for (const auto& result : results) {
      EXPECT_TRUE(result.ok()) << result.error();
      if (result.ok()) {
        EXPECT_EQ(result->decision.outcome, results[0]->decision.outcome);
      }
    }
    for (const auto& role : roles) EXPECT_TRUE(role.settled);
    return results[0].ok() ? results[0]->decision.outcome : ModuliOutcome::Stopped;
  };
  TraceText whole;
  ASSERT_EQ(decide_moduli(moduli, UINT64_MAX, {}, &whole)->outcome, ModuliOutcome::NoCovering);
  EXPECT_EQ(run(path("three"), 3, false), ModuliOutcome::NoCovering);
  EXPECT_EQ(*read_text_file(path("three")), whole.text());
  // Stopped on one rank: all stop, and two ranks resume from the checkpoint.
  EXPECT_EQ(run(path("stopped"), 3, true), ModuliOutcome::Stopped);
  EXPECT_TRUE(std::filesystem::exists(path("stopped.checkpoint")));
  EXPECT_EQ(run(path("stopped"), 2, false), ModuliOutcome::NoCovering);
  EXPECT_EQ(*read_text_file(path("stopped")), whole.text());
  EXPECT_FALSE(std::filesystem::exists(path("stopped.checkpoint")));
  run(path("strange"), 2, false, true);
}

TEST(ModuliCheckpoint, RoundTripsAndRefusesDamage) {
  ModuliCheckpoint c{"version 1\nmoduli 3 4\n", 1234, {}};
  SubproblemRecord refuted{3, {}};
  refuted.decision.nodes = 17;
  refuted.decision.class_branches = 2;
  SubproblemRecord covering{5, {}};
  covering.decision.outcome = ModuliOutcome::Covering;
  covering.decision.residues = {0, 1, 2};
  c.done = {refuted, covering};
  const std::string text = render_moduli_checkpoint(c);
  const auto back = parse_moduli_checkpoint(text);
  ASSERT_TRUE(back.ok()) << back.error();
  EXPECT_EQ(render_moduli_checkpoint(*back), text);
  EXPECT_EQ(back->run, c.run);
  EXPECT_EQ(back->done[1].decision.residues, covering.decision.residues);
  std::string altered = text;
  altered[altered.find("17")] = '8';
  for (const std::string& bad : {altered, text.substr(0, text.size() / 2), std::string()}) {
    EXPECT_FALSE(parse_moduli_checkpoint(bad).ok()) << bad;
  }
}

}  // namespace
}  // namespace tilvane
