// tilvane-census as a careful Unix tool: what it refuses before any work
// (repeated options, files the user could not write, files with other
// names, foreign lock files, damaged checkpoints), what it says when it
// refuses, that the user's files are unchanged afterwards, and a stop that
// takes effect at once on a space whose candidates take long, with a
// checkpoint that resumes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "census/checkpoint.h"
#include "census/embedded_fixtures.h"
#include "census/exploration.h"
#include "census/exploration_driver.h"
#include "census/fixtures.h"
#include "census/space.h"
#include "census/worker_pool.h"
#include "engine/decision_search.h"
#include "program_run.h"
#include "test_files.h"

namespace tilvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::ProgramOptions;
using testing::ProgramOutcome;
using testing::read_file;

using CensusRunSafety = testing::ScratchDir;

const std::vector<std::string> kK8 = {"--size", "8",       "--max-lcm",
                                      "128",    "--space", "common-multiples"};
// A space of 19 trillion candidates, some of which take minutes each.
const std::vector<std::string> kSlow = {"--size",  "6",       "--max-lcm",
                                        "1000000", "--space", "common-multiples"};

std::vector<std::string> with(std::vector<std::string> args, std::vector<std::string> more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// A run of tilvane-census; as_user: as an ordinary user (nobody) when the
// tests run as root, through setpriv.
ProgramOptions census_run(std::vector<std::string> args, bool as_user = false) {
  ProgramOptions options = testing::with_args(std::move(args));
  options.binary = TILVANE_CENSUS_BINARY;
  options.program_name = "tilvane-census";
  if (as_user && ::geteuid() == 0) {
    options.args.insert(options.args.begin(), {"--reuid=nobody", "--regid=nogroup",
                                               "--clear-groups", TILVANE_CENSUS_BINARY});
    options.binary = "/usr/bin/setpriv";
    options.program_name = "setpriv";
  }
  return options;
}

// An ordinary user's run is possible: not root, or root with setpriv.
bool can_run_as_user() { return ::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) == 0; }

TEST_F(CensusRunSafety, RefusalsNameTheirReasonAndLeaveTheUsersFilesAlone) {
  // The folder is open to the ordinary user, and holds files they do not own.
  fs::permissions(dir_, fs::perms::all);
  const std::string mine = "mine\n";
  std::map<std::string, std::string> files = {{"ro.txt", mine},
                                              {"linked.txt", mine},
                                              {"bad.checkpoint", "not a checkpoint\n"},
                                              {"thesis/thesis.tex", mine},
                                              {"stray.lock", mine},
                                              {"stray", ""}};
  fs::create_directory(path("thesis"));
  fs::create_directory(path("closed"));
  for (const auto& [name, text] : files) write(name, text);
  fs::create_hard_link(path("linked.txt"), path("other-name.txt"));
  files["other-name.txt"] = mine;
  fs::permissions(path("ro.txt"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(path("closed"), fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  // Two parts of one run, for the merges.
  for (const std::string part : {"1", "2"}) {
    ASSERT_EQ(testing::run_program(
                  census_run(with(kK8, {"--part", part + "/2", "--output", path("p" + part)})))
                  .status,
              0);
    files["p" + part] = read_file(path("p" + part));
  }
  ASSERT_EQ(
      testing::run_program(census_run(with(kK8, {"--every", "7", "--output", path("sample.txt")})))
          .status,
      0);
  files["sample.txt"] = read_file(path("sample.txt"));

  struct Case {
    Case(std::vector<std::string> a, int s, std::string m, bool u = false, std::string d = {})
        : args(std::move(a)), status(s), message(std::move(m)), as_user(u), dir(std::move(d)) {}
    std::vector<std::string> args;
    int status;
    std::string message;  // a part of standard error
    bool as_user;         // as an ordinary user
    std::string dir;      // the current folder, when not the test's
  };
  const std::vector<Case> cases = {
      {with(kK8, {"--size", "8"}), 1, "option --size given twice"},
      {with(kK8, {"--every", "2", "--sample", "3"}), 1, "option --sample given twice"},
      {with(kK8, {"--json", "--json"}), 1, "option --json given twice"},
      {with(kK8, {"--without", "symmetry", "--without", "fibres"}), 1,
       "option --without given twice"},
      {with(kK8, {"--output", path("ro.txt")}), 1,
       "cannot write \"" + path("ro.txt") + "\": Permission denied", true},
      {with(kK8, {"--output", path("linked.txt")}), 1,
       "has 1 other name (hard links), which would keep the old content"},
      {with(kK8, {"--checkpoint", path("bad.checkpoint")}), 1,
       "remove it to start the run over, or give another --checkpoint FILE (or --checkpoint "
       "none)"},
      {with(kK8, {"--covers", path("thesis")}), 1,
       "holds \"thesis.tex\", which tilvane-census did not write"},
      {with(kK8, {"--checkpoint", path("stray")}), 1,
       "\"" + path("stray.lock") + "\" is not a lock file of tilvane-census"},
      {kK8, 1, "give --checkpoint FILE in a folder you may write, or --checkpoint none", true,
       path("closed")},
      {with(kK8, {"--checkpoint", "none"}), 0, "irreducible covering sets: 65", true,
       path("closed")},
      {{"--merge", path("p1"), path("p1"), path("p2")},
       1,
       "part 1 of 2 is given twice (" + path("p1") + " and " + path("p1") + ")"},
      {{"--merge", path("p1"), path("sample.txt")},
       1,
       path("sample.txt") + ": not a part list: it is the list of a sample (--every)"},
      {{"--size", "3", "--max-lcm", "12", "--checkpoint", "none"},
       0,
       "greatest reciprocal sum: none\n"},
      {{"--size", "4", "--max-lcm", "12", "--max-nodes", "1", "--checkpoint", "none"},
       0,
       "at most 1 node per search\n"},
  };
  for (const Case& c : cases) {
    if (c.as_user && !can_run_as_user()) continue;
    ProgramOptions options = census_run(c.args, c.as_user);
    options.dir = c.dir.empty() ? dir_.string() : c.dir;
    const ProgramOutcome run = testing::run_program(options);
    EXPECT_EQ(run.status, c.status) << c.message << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    for (const auto& [name, text] : files) EXPECT_EQ(read_file(path(name)), text) << name;
  }
  EXPECT_TRUE(fs::is_empty(path("closed")));

  // A sample's list says what it is, and no table reader takes it for one.
  EXPECT_TRUE(files["sample.txt"].starts_with(
      "# tilvane-census sample: the irreducible covering sets among every 7th candidate only"));
  EXPECT_FALSE(parse_expected_sets(files["sample.txt"], 8));
}

// A file the user may write is replaced with its mode kept; the list that
// cannot go to standard output says why.
TEST_F(CensusRunSafety, ReplacedFilesKeepTheirModeAndFailedWritesSayWhy) {
  write("k8.txt", "old\n");
  fs::permissions(path("k8.txt"),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const ProgramOutcome run =
      testing::run_program(census_run(with(kK8, {"--output", path("k8.txt")})));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_file(path("k8.txt")), embedded_fixture_text(8));
  EXPECT_EQ(fs::status(path("k8.txt")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  ProgramOptions full = census_run(with(kK8, {"--checkpoint", "none"}));
  full.out.kind = testing::Sink::DevFull;
  const ProgramOutcome failed = testing::run_program(full);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("cannot write the list to standard output: No space left on device"),
            std::string::npos)
      << failed.err;
}

// The stop flag of the decision search: while clear it changes no outcome;
// once set, a candidate that needs a search comes back abandoned, and a
// drive over the candidates ends at once without recording any.
TEST(StopFlag, AbandonsTheSearchesAndEndsTheDriveAtOnce) {
  const ExplorationPlan plan{{SpaceKind::CommonMultiples, 8, 128}, SearchKind::Decide, 0, 1};
  auto space = space_candidates(plan.space);
  ASSERT_TRUE(space);
  std::atomic<bool> stop{false};
  DecisionOptions options;
  options.stop = &stop;
  const Decider plain(plan);
  const Decider watching(plan, options);
  // The candidates shown not to cover by a search of some nodes: once the
  // flag is set, that search ends at its first node.
  ModuliSetList searched;
  for (std::size_t i = 0; i < space->size() && searched.size() < 50; i += 7) {
    auto a = plain.decide((*space)[i]);
    auto b = watching.decide((*space)[i]);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a, *b);
    if (a->kind == CandidateKind::NotCovering && a->nodes > 0) searched.push_back((*space)[i]);
  }
  ASSERT_FALSE(searched.empty());
  stop = true;
  const Decider stopped(plan, options);
  for (const ModuliSet& set : searched) {
    auto outcome = stopped.decide(set);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->kind, CandidateKind::Abandoned);
  }
  auto pool = WorkerPool::start(2);
  ASSERT_TRUE(pool);
  ExplorationLedger ledger(searched, {});
  DriveHooks hooks;
  hooks.stop_requested = [] { return true; };
  auto end = drive_exploration(**pool, stopped, searched, ledger, hooks);
  ASSERT_TRUE(end) << end.error();
  EXPECT_EQ(*end, DriveEnd::Stopped);
  EXPECT_EQ(ledger.next(), 0u);
  EXPECT_FALSE(ledger.record(0, {CandidateKind::Abandoned, 0, {}}));
}

// Waits (20 s at most) until path exists.
bool wait_for(const std::string& path) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!fs::exists(path)) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Signals the run and returns its outcome and the seconds from the first
// signal to its end.
std::pair<ProgramOutcome, double> stop(testing::ProgramRun& running, std::vector<int> signals) {
  const auto sent = Clock::now();
  for (int signal : signals) {
    ::kill(running.pid(), signal);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ProgramOutcome outcome = running.finish();
  return {outcome, std::chrono::duration<double>(Clock::now() - sent).count()};
}

// On a space whose searches can take minutes each, a stop still ends the
// run within a second or so: the searches under way are abandoned and their
// candidates stay open in the checkpoint. A second identical run meanwhile is
// refused at once, naming the first; a second Ctrl-C while the checkpoint is
// written does no harm; SIGHUP stops a resumed run the same way.
// Some seconds of waiting for checkpoints: not under the sanitizers.
using HeavyCensusRunSafety = CensusRunSafety;

TEST_F(HeavyCensusRunSafety, AStopEndsTheRunAtOnceAndTheCheckpointResumes) {
  const std::vector<std::string> args =
      with(kSlow, {"--threads", "2", "--output", path("slow.txt"), "--checkpoint-interval", "1"});
  const std::string checkpoint = path("slow.txt.checkpoint");
  testing::ProgramRun first(census_run(args));
  // The first checkpoint comes a second into the deciding.
  ASSERT_TRUE(wait_for(checkpoint));
  const ProgramOutcome second = testing::run_program(census_run(args));
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("another run (pid " + std::to_string(first.pid())), std::string::npos)
      << second.err;

  const auto [stopped, seconds] = stop(first, {SIGINT, SIGINT});
  EXPECT_EQ(stopped.status, 75) << stopped.err;
  EXPECT_LT(seconds, 3.0);
  EXPECT_TRUE(stopped.err.starts_with("stopping: writing the checkpoint\n")) << stopped.err;
  EXPECT_NE(stopped.err.find("stopped after "), std::string::npos) << stopped.err;
  auto saved = parse_checkpoint(read_file(checkpoint));
  ASSERT_TRUE(saved) << saved.error();
  EXPECT_TRUE(saved->tally.undecided.empty());
  EXPECT_FALSE(fs::exists(checkpoint + ".lock"));
  EXPECT_FALSE(fs::exists(path("slow.txt")));

  const auto written = fs::last_write_time(checkpoint);
  testing::ProgramRun resumed(census_run(args));
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (fs::last_write_time(checkpoint) == written && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto [again, again_seconds] = stop(resumed, {SIGHUP});
  EXPECT_EQ(again.status, 75) << again.err;
  EXPECT_LT(again_seconds, 3.0);
  EXPECT_NE(again.err.find("resuming from " + checkpoint), std::string::npos) << again.err;
  auto resaved = parse_checkpoint(read_file(checkpoint));
  ASSERT_TRUE(resaved) << resaved.error();
  EXPECT_GE(resaved->tally.decided, saved->tally.decided);
}

}  // namespace
}  // namespace tilvane
