// A cluster run without a cluster: the messages' strict reading, the chunk
// rule, the coordinator's refusals, and whole runs of computing ranks on
// threads of this process, whose tally must equal a single process's.
#include "census_tool/coordinator.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <thread>
#include <vector>

#include "census/checkpoint_pacer.h"
#include "census/exploration_driver.h"
#include "census/space.h"
#include "census/worker_pool.h"
#include "census_tool/chunk_messages.h"
#include "census_tool/message_link.h"
#include "census_tool/options.h"
#include "census_tool/rank_worker.h"

namespace tilvane {
namespace {

using Clock = std::chrono::steady_clock;

const ExplorationPlan kK8Plan{{SpaceKind::CommonMultiples, 8, 128}, SearchKind::Decide, 0, 1};

ModuliSetList work_of(const ExplorationPlan& plan) {
  auto built = space_candidates(plan.space);
  EXPECT_TRUE(built) << built.error();
  return sample_work(std::move(*built), plan.sample);
}

// The decision search's node counts depend on what its shared memo held
// when each candidate came, so they differ from run to run; nothing that a
// decision search writes shows them.
ExplorationTally without_nodes(ExplorationTally tally) {
  tally.nodes = 0;
  return tally;
}

ExplorationTally single_process_tally(const ExplorationPlan& plan, const ModuliSetList& work) {
  auto pool = WorkerPool::start(2);
  EXPECT_TRUE(pool);
  const Decider decider(plan);
  ExplorationLedger ledger(work, {});
  auto end = drive_exploration(**pool, decider, work, ledger, {});
  EXPECT_TRUE(end) << end.error();
  return ledger.tally();
}

TEST(ChunkMessages, RoundTripThroughTheirText) {
  PositionedOutcome irreducible{12, {CandidateKind::Irreducible, 40, {0, 1, 2}}, 731};
  PositionedOutcome dropped{13, {CandidateKind::Dropped, 0, {}}, 0};
  const std::vector<RankMessage> rank_messages = {
      HelloMessage{4, 28457, {{SpaceKind::Simpson, 10, 512}, SearchKind::Exact, 99, 3}},
      DoneMessage{{irreducible, dropped}},
      DoneMessage{},
      MoreMessage{},
      BeatMessage{},
      StopMessage{},
      FailMessage{"census node counter overflow"},
  };
  for (const RankMessage& m : rank_messages) {
    const std::string text = render_rank_message(m);
    auto parsed = parse_rank_message(text);
    ASSERT_TRUE(parsed) << text << parsed.error();
    EXPECT_EQ(*parsed, m) << text;
  }
  const std::vector<CoordinatorMessage> coordinator_messages = {
      ChunkMessage{0, 1}, ChunkMessage{5502899, 4096}, HaltMessage{}, EndMessage{2}};
  for (const CoordinatorMessage& m : coordinator_messages) {
    const std::string text = render_coordinator_message(m);
    auto parsed = parse_coordinator_message(text);
    ASSERT_TRUE(parsed) << text << parsed.error();
    EXPECT_EQ(*parsed, m) << text;
  }
  EXPECT_EQ(render_rank_message(FailMessage{"two\nlines"}), "fail two lines\n");
}

TEST(ChunkMessages, TextsThatAreNotExactlyAMessageAreRefused) {
  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> rank_cases = {
      {"", "message is empty"},
      {"beat", "does not end in a line feed"},
      {"beat\n\n", "line 2 of the message is empty"},
      {"beat \n", "stray blank"},
      {"beat now\n", "\"beat\" takes 0 values, not 1"},
      {"more 64\n", "\"more\" takes 0 values, not 1"},
      {"hello 1 7443 common-multiples 8 128 decide 0 1 1\n", "takes 10 values, not 9"},
      {"hello 1 7443 odd 8 128 decide 0 1 1 1\n", "unknown space"},
      {"hello 01 7443 common-multiples 8 128 decide 0 1 1 1\n", "not a plain decimal"},
      {"hello +1 7443 common-multiples 8 128 decide 0 1 1 1\n", "not a plain decimal"},
      {"hello 1 18446744073709551616 common-multiples 8 128 decide 0 1 1 1\n",
       "not a plain decimal"},
      {"hello 1 7443 common-multiples 8 128 decide 0 1 2 1\n", "part 2 of 1"},
      {"done 2\n1 dropped 0 0\n", "announces 2 outcomes but carries 1"},
      {"done 1\n1 covers 0 0\n", "unknown outcome"},
      {"done 1\n1 irreducible 5 9\n", "irreducible outcome without residues"},
      {"done 1\n1 reducible 5 9 0 1\n", "residues with a reducible outcome"},
      {"done 1\n1 dropped 0\n", "outcome line too short"},
      {"done 1\n-1 dropped 0 0\n", "not a plain decimal"},
      {"fail \n", "without a readable text"},
      {"fail\n", "unknown message"},
      {"stop\nbeat\n", "more than one line"},
      {"results 0\n", "unknown message"},
  };
  for (const Case& c : rank_cases) {
    auto parsed = parse_rank_message(c.text);
    ASSERT_FALSE(parsed) << c.text;
    EXPECT_NE(parsed.error().find(c.error), std::string::npos) << c.text << ": " << parsed.error();
  }
  const std::vector<Case> coordinator_cases = {
      {"chunk 1 0\n", "empty chunk"},
      {"chunk 18446744073709551615 2\n", "beyond any work list"},
      {"chunk 1\n", "takes 2 values, not 1"},
      {"end 3\n", "is not 0, 1, 2 or 75"},
      {"halt\nhalt\n", "more than one line"},
      {"HALT\n", "unknown message"},
  };
  for (const Case& c : coordinator_cases) {
    auto parsed = parse_coordinator_message(c.text);
    ASSERT_FALSE(parsed) << c.text;
    EXPECT_NE(parsed.error().find(c.error), std::string::npos) << c.text << ": " << parsed.error();
  }
}

TEST(ChunkRule, LargeFirstShrinkingToSingleCandidates) {
  struct Case {
    std::uint64_t unassigned, all_workers, rank_workers, cap, expected;
  };
  const std::vector<Case> cases = {
      {0, 4, 1, 64, 0},
      {1, 4, 1, 64, 1},
      {100, 4, 1, 64, 6},
      {100000, 4, 1, 64, 64},
      {100000, 4, 2, 64, 128},
      {15, 16, 16, 64, 3},
      {63999, 16000, 16, 64, 15},
      {5502900, 16000, 16, 64, 1024},
      {~0ULL, 1, 1, ~0ULL, ~0ULL / 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(chunk_size(c.unassigned, c.all_workers, c.rank_workers, c.cap), c.expected)
        << c.unassigned << " " << c.all_workers << " " << c.rank_workers << " " << c.cap;
  }
  // Handed out in turn to four one-thread ranks, the chunks never grow and
  // the last ones are single candidates.
  std::uint64_t left = 28457;
  std::uint64_t previous = ~0ULL;
  std::vector<std::uint64_t> sizes;
  while (left > 0) {
    const std::uint64_t size = chunk_size(left, 4, 1, 64);
    ASSERT_LE(size, previous);
    sizes.push_back(size);
    previous = size;
    left -= size;
  }
  EXPECT_EQ(sizes.front(), 64u);
  ASSERT_GE(sizes.size(), 8u);
  EXPECT_EQ(sizes[sizes.size() - 8], 1u);
}

// A coordinator of two computing ranks over the k = 8 work list, driven by
// hand.
struct Script {
  Script()
      : work_(work_of(kK8Plan)),
        ledger_(work_, {}),
        coordinator_(CoordinatorSettings{kK8Plan, 2, std::chrono::milliseconds(1000), 64}, ledger_,
                     nullptr, start_) {}

  Status say(int from, const std::string& text) {
    out_.clear();
    return coordinator_.handle(from, text, start_, out_);
  }
  std::string hello(std::uint64_t workers = 1) {
    return render_rank_message(HelloMessage{workers, work_.size(), kK8Plan});
  }
  // The outcomes of positions [begin, end) as a single process decides them.
  std::string done(std::uint64_t begin, std::uint64_t end) {
    const Decider decider(kK8Plan);
    DoneMessage message;
    for (std::uint64_t p = begin; p < end; ++p) {
      auto outcome = decider.decide(work_[p]);
      EXPECT_TRUE(outcome);
      message.outcomes.push_back({p, *outcome, 1});
    }
    return render_rank_message(message);
  }

  // The chunk 0 to 63 with a cover of zeros for candidate 0.
  std::string bad_certificate() {
    const std::string rest = done(1, 64);
    return "done 64\n0 irreducible 0 0 0 0 0 0 0 0 0 0\n" + rest.substr(rest.find('\n') + 1);
  }

  const Clock::time_point start_ = Clock::now();
  const ModuliSetList work_;
  ExplorationLedger ledger_;
  Coordinator coordinator_;
  std::vector<Outgoing> out_;
};

class ScriptedCoordinator : public ::testing::Test, public Script {};

TEST_F(ScriptedCoordinator, HandsOutChunksInOrderAndTakesThemBackInOrder) {
  ASSERT_TRUE(say(0, hello()));
  ASSERT_EQ(out_.size(), 1u);
  EXPECT_EQ(out_[0].to, 0);
  EXPECT_EQ(out_[0].text, "chunk 0 64\n");
  ASSERT_TRUE(say(1, hello()));
  EXPECT_EQ(out_[0].text, "chunk 64 64\n");
  ASSERT_TRUE(say(1, "more\n"));  // rank 1 now holds two chunks
  EXPECT_EQ(out_[0].text, "chunk 128 64\n");
  ASSERT_TRUE(say(1, done(64, 128)));
  EXPECT_TRUE(out_.empty());      // outcomes ask for nothing
  EXPECT_EQ(ledger_.next(), 0u);  // position 0 is still open
  ASSERT_TRUE(say(0, done(0, 64)));
  EXPECT_EQ(ledger_.next(), 128u);
  EXPECT_FALSE(say(1, done(64, 128)));  // already returned: 128 to 191 is its oldest now
  ASSERT_TRUE(say(1, done(128, 192)));
  EXPECT_EQ(ledger_.next(), 192u);
  EXPECT_FALSE(coordinator_.settled());
  EXPECT_EQ(coordinator_.workers(), 2u);
}

TEST_F(ScriptedCoordinator, RefusesWhatDoesNotFitTheRanksState) {
  struct Case {
    std::vector<std::pair<int, std::string>> before;
    std::pair<int, std::string> message;
    std::string error;
  };
  const std::string other_plan = render_rank_message(
      HelloMessage{1, 28457, {{SpaceKind::Simpson, 10, 512}, SearchKind::Decide, 0, 1}});
  const std::vector<Case> cases = {
      {{}, {2, "beat\n"}, "message from rank 2, which is not part of the job"},
      {{}, {0, "beat"}, "message from rank 0 does not parse: message does not end in a line feed"},
      {{}, {1, other_plan}, "rank 1 was started for another census (simpson space, size 10"},
      {{}, {0, "done 0\n"}, "rank 0 sent outcomes without holding a chunk"},
      {{}, {0, "more\n"}, "rank 0 asked for candidates before its hello"},
      {{{0, hello()}}, {0, hello()}, "rank 0 said hello twice"},
      {{{0, hello()}}, {0, done(0, 10)}, "rank 0 returned 10 outcomes for its chunk of 64"},
      {{{0, hello()}}, {0, done(64, 65)}, "outside its chunk 0 to 63"},
      {{{0, hello()}}, {0, "fail out of memory\n"}, "rank 0: out of memory"},
      {{{0, hello()}}, {0, bad_certificate()}, "bad certificate for candidate 0"},
  };
  for (const Case& c : cases) {
    Script fresh;
    for (const auto& [from, text] : c.before) ASSERT_TRUE(fresh.say(from, text)) << text;
    Status status = fresh.say(c.message.first, c.message.second);
    ASSERT_FALSE(status) << c.message.second;
    EXPECT_NE(status.error().find(c.error), std::string::npos) << status.error();
  }
}

TEST_F(ScriptedCoordinator, AfterAStopTakesWhatTheRanksHaveAndSettles) {
  ASSERT_TRUE(say(0, hello()));
  ASSERT_TRUE(say(1, hello()));
  ASSERT_TRUE(say(1, "stop\n"));
  ASSERT_EQ(out_.size(), 2u);
  EXPECT_EQ(out_[0].text, "halt\n");
  EXPECT_EQ(out_[1].text, "halt\n");
  ASSERT_TRUE(say(0, done(0, 5)));
  ASSERT_TRUE(say(0, "more\n"));
  EXPECT_TRUE(out_.empty());  // no further chunk
  EXPECT_FALSE(coordinator_.settled());
  ASSERT_TRUE(say(1, "done 0\n"));
  EXPECT_TRUE(coordinator_.settled());
  EXPECT_EQ(ledger_.next(), 5u);
  const auto end = coordinator_.end(2);
  ASSERT_EQ(end.size(), 2u);
  EXPECT_EQ(end[1].text, "end 2\n");
}

TEST_F(ScriptedCoordinator, ASilentRankIsNamedWithItsChunk) {
  ASSERT_TRUE(say(0, hello()));
  EXPECT_TRUE(coordinator_.check_liveness(start_ + std::chrono::milliseconds(1000)));
  Status late = coordinator_.check_liveness(start_ + std::chrono::milliseconds(1001));
  ASSERT_FALSE(late);
  EXPECT_EQ(late.error(),
            "rank 0 has sent nothing for 1 s while deciding candidates 0 to 63; "
            "it is taken for dead");
  std::vector<Outgoing> out;
  ASSERT_TRUE(coordinator_.handle(0, "beat\n", start_ + std::chrono::milliseconds(900), out));
  ASSERT_TRUE(coordinator_.handle(1, hello(), start_ + std::chrono::milliseconds(900), out));
  EXPECT_TRUE(coordinator_.check_liveness(start_ + std::chrono::milliseconds(1800)));
}

// Computing ranks on threads of this process, each with its own pool and
// decider, served by the coordinator on this thread.
struct LocalJob {
  explicit LocalJob(std::size_t ranks, const ModuliSetList& work) : hub(ranks) {
    for (std::size_t r = 0; r < ranks; ++r) {
      auto pool = WorkerPool::start(1);
      EXPECT_TRUE(pool);
      pools.push_back(std::move(*pool));
      deciders.push_back(std::make_unique<Decider>(kK8Plan));
    }
    for (std::size_t r = 0; r < ranks; ++r) {
      threads.emplace_back([this, r, &work] {
        auto status = run_rank_worker(hub.rank_link(r), *pools[r], *deciders[r], work,
                                      {kK8Plan, std::chrono::milliseconds(50), {}, {}});
        statuses[r] = status ? *status : -1;
      });
    }
  }
  void end(const Coordinator& coordinator, int status) {
    for (Outgoing& o : coordinator.end(status)) {
      EXPECT_TRUE(hub.coordinator_link().send(o.to, std::move(o.text)));
    }
    for (std::thread& t : threads) t.join();
  }

  LocalHub hub;
  std::vector<std::unique_ptr<WorkerPool>> pools;
  std::vector<std::unique_ptr<Decider>> deciders;
  std::vector<std::thread> threads;
  std::array<int, 8> statuses{};
};

TEST(ClusterRun, RanksOnThreadsGatherTheSingleProcessTallyAcrossAStopAndAResume) {
  const ModuliSetList work = work_of(kK8Plan);
  const ExplorationTally expected = single_process_tally(kK8Plan, work);

  // Three ranks, stopped once a checkpoint has been saved with part of the
  // work decided.
  ExplorationTally saved;
  int saves = 0;
  {
    ExplorationLedger ledger(work, {});
    Coordinator coordinator({kK8Plan, 3, std::chrono::milliseconds(10000), 4}, ledger, nullptr,
                            Clock::now());
    LocalJob job(3, work);
    DriveHooks hooks;
    hooks.stop_requested = [&] { return ledger.next() > 1000; };
    hooks.save_checkpoint = [&](const ExplorationTally& tally) {
      ++saves;
      saved = tally;
      return Status();
    };
    auto end = serve_exploration(job.hub.coordinator_link(), coordinator, ledger, hooks);
    ASSERT_TRUE(end) << end.error();
    EXPECT_EQ(*end, DriveEnd::Stopped);
    EXPECT_GE(saves, 1);
    EXPECT_GT(saved.decided, 1000u);
    EXPECT_LT(saved.decided, work.size());
    job.end(coordinator, 2);
    EXPECT_EQ(job.statuses[0], 2);
    EXPECT_EQ(job.statuses[2], 2);
  }
  // Two ranks resume from the saved tally.
  ExplorationLedger ledger(work, saved);
  Coordinator coordinator({kK8Plan, 2, std::chrono::milliseconds(10000), 64}, ledger, nullptr,
                          Clock::now());
  LocalJob job(2, work);
  auto end = serve_exploration(job.hub.coordinator_link(), coordinator, ledger, {});
  ASSERT_TRUE(end) << end.error();
  EXPECT_EQ(*end, DriveEnd::Complete);
  job.end(coordinator, 0);
  EXPECT_EQ(without_nodes(ledger.tally()), without_nodes(expected));
  EXPECT_EQ(job.statuses[1], 0);
}

TEST(ClusterRun, AFailedRankEndsTheServingWithItsErrorAndTheTallySaved) {
  const ModuliSetList work = work_of(kK8Plan);
  ExplorationLedger ledger(work, {});
  Coordinator coordinator({kK8Plan, 2, std::chrono::milliseconds(10000), 64}, ledger, nullptr,
                          Clock::now());
  LocalHub hub(2);
  // Rank 1 is an impostor: it asks for a chunk and answers with garbage.
  ASSERT_TRUE(hub.rank_link(1).send(0, render_rank_message(HelloMessage{1, work.size(), kK8Plan})));
  ASSERT_TRUE(hub.rank_link(1).send(0, "done 1\n0 dropped zero 0\n"));
  ASSERT_TRUE(hub.rank_link(0).send(0, render_rank_message(HelloMessage{1, work.size(), kK8Plan})));
  int saves = 0;
  DriveHooks hooks;
  hooks.save_checkpoint = [&](const ExplorationTally&) {
    ++saves;
    return Status();
  };
  auto end = serve_exploration(hub.coordinator_link(), coordinator, ledger, hooks);
  ASSERT_FALSE(end);
  EXPECT_EQ(end.error(),
            "message from rank 1 does not parse: line 2: not a plain decimal number: \"zero\"");
  EXPECT_EQ(saves, 1);
}

// A checkpoint is due an interval after the last one ended, or 49 times its
// cost after it when that is later.
TEST(CheckpointPacer, KeepsTheIntervalWhileCheapAndSpacesOutDearCheckpoints) {
  using std::chrono::milliseconds;
  const Clock::time_point t0{};
  struct Row {
    milliseconds interval, cost, due_after;
  };
  const std::vector<Row> rows = {
      {milliseconds(60000), milliseconds(0), milliseconds(60000)},
      {milliseconds(60000), milliseconds(1000), milliseconds(60000)},
      {milliseconds(60000), milliseconds(2000), milliseconds(98000)},
      {milliseconds(0), milliseconds(10), milliseconds(490)},
      {milliseconds(1000), milliseconds(0), milliseconds(1000)},
  };
  for (const Row& row : rows) {
    CheckpointPacer pacer(row.interval, t0);
    EXPECT_EQ(pacer.due(t0), row.interval == milliseconds(0));
    EXPECT_TRUE(pacer.due(t0 + row.interval));
    const Clock::time_point ended = t0 + row.interval + row.cost;
    pacer.saved(t0 + row.interval, ended);
    EXPECT_FALSE(pacer.due(ended + row.due_after - milliseconds(1))) << row.cost.count();
    EXPECT_TRUE(pacer.due(ended + row.due_after)) << row.cost.count();
  }
}

// A single process's checkpoints copy only what the ledger appended since
// the last one: each saved tally must still be the whole tally of a decided
// prefix, found sets in order and none twice.
TEST(ProcessCheckpoints, EachHoldsTheTallyOfADecidedPrefix) {
  // The node-exact search: slow enough for several checkpoints, and its
  // node counts are the same in any order.
  const ExplorationPlan plan{{SpaceKind::Simpson, 9, 256}, SearchKind::Exact, 0, 1};
  const ModuliSetList work = work_of(plan);
  auto pool = WorkerPool::start(2);
  ASSERT_TRUE(pool);
  const Decider decider(plan);
  ExplorationLedger ledger(work, {});
  std::vector<ExplorationTally> saved;
  DriveHooks hooks;
  hooks.checkpoint_interval = std::chrono::milliseconds(0);
  hooks.save_checkpoint = [&](const ExplorationTally& tally) {
    saved.push_back(tally);
    return Status();
  };
  auto end = drive_exploration(**pool, decider, work, ledger, hooks);
  ASSERT_TRUE(end) << end.error();
  ASSERT_GE(saved.size(), 2u);
  // The prefixes decided again in order, one candidate at a time.
  ExplorationLedger again(work, {});
  std::uint64_t next = 0;
  for (const ExplorationTally& tally : saved) {
    ASSERT_GE(tally.decided, next);
    for (; next < tally.decided; ++next) {
      auto outcome = decider.decide(work[next]);
      ASSERT_TRUE(outcome && again.record(next, std::move(*outcome)));
    }
    EXPECT_EQ(again.tally(), tally);
  }
}

TEST(ClusterOptions, IntervalsTimeoutsAndChunkLimitsArePositiveAndBounded) {
  const auto parse = [](std::vector<std::string_view> extra) {
    std::vector<std::string_view> args = {"--size", "8", "--max-lcm", "128"};
    args.insert(args.end(), extra.begin(), extra.end());
    return parse_census_options(args);
  };
  auto defaults = parse({});
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->checkpoint_interval_s, 60u);
  EXPECT_EQ(defaults->rank_timeout_s, 120u);
  EXPECT_EQ(defaults->chunk_limit, 1024u);
  auto given = parse({"--checkpoint-interval", "1", "--rank-timeout=5", "--chunk-limit", "1"});
  ASSERT_TRUE(given) << given.error();
  EXPECT_EQ(given->checkpoint_interval_s, 1u);
  EXPECT_EQ(given->rank_timeout_s, 5u);
  EXPECT_EQ(given->chunk_limit, 1u);
  const std::vector<std::pair<std::vector<std::string_view>, std::string>> refused = {
      {{"--checkpoint-interval", "0"}, "option --checkpoint-interval needs a positive whole"},
      {{"--rank-timeout", "1000000001"}, "option --rank-timeout takes at most 1000000000 seconds"},
      {{"--chunk-limit", "-1"}, "option --chunk-limit needs a positive whole number"},
      {{"--chunk-limit"}, "option --chunk-limit needs a value"},
  };
  for (const auto& [extra, error] : refused) {
    auto parsed = parse(extra);
    ASSERT_FALSE(parsed) << error;
    EXPECT_NE(parsed.error().find(error), std::string::npos) << parsed.error();
  }
}

}  // namespace
}  // namespace tilvane
