// tilvane-census as a user runs it: the shipped lists reproduced by both
// searches, certificates that tilvane accepts, undecided candidates never
// dropped, bad command lines refused before any work, and checkpoints that
// resume to the same result or are refused.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "census/checkpoint.h"
#include "census/embedded_fixtures.h"
#include "census/exploration.h"
#include "census_tool/estimate.h"
#include "census_tool/options.h"
#include "program_run.h"
#include "test_files.h"

namespace tilvane {
namespace {

namespace fs = std::filesystem;
using testing::ProgramOptions;
using testing::ProgramOutcome;
using testing::read_file;
using testing::write_file;

ProgramOptions census_run(std::vector<std::string> args) {
  ProgramOptions options = testing::with_args(std::move(args));
  options.binary = TILVANE_CENSUS_BINARY;
  options.program_name = "tilvane-census";
  return options;
}

using CensusTool = testing::ScratchDir;

const std::vector<std::string> kK8 = {"--size", "8",       "--max-lcm",
                                      "128",    "--space", "common-multiples"};

std::vector<std::string> with(std::vector<std::string> args, std::vector<std::string> more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST_F(CensusTool, BothSearchesWriteTheFixtureAndCertificatesTilvaneAccepts) {
  const std::string fixture(embedded_fixture_text(8));
  for (const std::string search : {"decide", "exact"}) {
    const ProgramOutcome run = testing::run_program(census_run(with(
        kK8, {"--search", search, "--output", path(search + ".txt"), "--covers", path(search)})));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(path(search + ".txt")), fixture) << search;
    EXPECT_NE(run.out.find("irreducible covering sets: 65\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("greatest reciprocal sum: 14/9\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("nodes: 32942353\n") != std::string::npos, search == "exact") << run.out;
    EXPECT_FALSE(fs::exists(path(search + ".txt.checkpoint")));
    // The folder holds its mark (hidden) and one certificate per set.
    EXPECT_TRUE(fs::exists(path(search) + "/.tilvane-census"));
    std::size_t certificates = 0;
    for (const auto& entry : fs::directory_iterator(path(search))) {
      if (entry.path().filename() == ".tilvane-census") continue;
      ++certificates;
      const ProgramOutcome check = testing::run_program(testing::with_args({entry.path()}));
      EXPECT_EQ(check.status, 0) << entry.path() << ": " << check.err;
    }
    EXPECT_EQ(certificates, 65u);
  }
}

TEST_F(CensusTool, BadCommandLinesFailBeforeAnyWork) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"--max-lcm", "64"}, "option --size is required"},
      {{"--size", "0", "--max-lcm", "64"},
       "option --size needs a positive whole number, not \"0\""},
      {{"--size", "7", "--max-lcm", "1"}, "LCM bound must be at least 2"},
      {{"--size=40", "--max-lcm=64"}, "size 40 exceeds the searches' limit of 32 moduli"},
      {{"--size", "7", "--max-lcm", "64", "--space", "all"},
       "option --space takes simpson or common-multiples, not \"all\""},
      {{"--size", "7", "--max-lcm", "64", "--frobnicate"}, "unknown option \"--frobnicate\""},
      {{"--size", "7", "--max-lcm"}, "option --max-lcm needs a value"},
      {{"--estimate", "--size", "7", "--max-lcm", "64", "--output", "x"},
       "--estimate writes nothing: it takes no --output, --covers or --checkpoint"},
      {{"--size", "7", "--max-lcm", "64", "--sample-time", "5"},
       "--sample-time belongs to --estimate, without --every"},
      {{"--size", "7", "--max-lcm", "64", "--part", "3/2"},
       "option --part needs I/N with 1 <= I <= N, not \"3/2\""},
      {{"--merge", "a.txt", "--size", "7"},
       "--merge takes the parts' lists, --output and --json, not --size"},
      {{"--size", "7", "--max-lcm", "64", "stray"}, "unexpected argument \"stray\""},
  };
  for (const Case& c : cases) {
    const ProgramOutcome run = testing::run_program(census_run(c.args));
    EXPECT_EQ(run.status, 1) << c.error;
    EXPECT_EQ(run.err, "tilvane-census: " + c.error + "\n");
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(CensusTool, CandidatesOutOfBudgetAreListedAndTheRunIsIncomplete) {
  const ProgramOutcome run = testing::run_program(
      census_run({"--size", "7", "--max-lcm", "64", "--space", "common-multiples", "--max-nodes",
                  "2", "--output", path("k7.txt")}));
  EXPECT_EQ(run.status, 2) << run.err;
  const std::string undecided = read_file(path("k7.txt.undecided"));
  EXPECT_FALSE(undecided.empty());
  EXPECT_NE(run.out.find("undecided list: " + path("k7.txt.undecided")), std::string::npos)
      << run.out;
}

// Outputs never replace or remove what the program did not write, and a
// path that cannot be written fails the run before any work, named as the
// user gave it.
TEST_F(CensusTool, OutputPathsAreCheckedFirstAndNothingForeignIsLost) {
  fs::create_directory(path("thesis"));
  write_file(path("thesis/thesis.tex"), "mine\n");
  write_file(path("notes.txt"), "mine\n");
  write_file(path("target.txt"), "mine\n");
  fs::create_symlink(path("target.txt"), path("link.txt"));
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;  // a part of standard error
  };
  const std::vector<Case> cases = {
      {{"--covers", path("thesis")}, 1, "holds \"thesis.tex\", which tilvane-census did not write"},
      {{"--covers", path("notes.txt")}, 1, "is a file; it must be a new name"},
      {{"--output", path("fifo")}, 1, "is a FIFO; it must be a regular file or a new name"},
      {{"--output", path("thesis")}, 1, "is a folder; it must be a regular file"},
      {{"--output", "/nonexistent-dir/x.txt"}, 1, "cannot write \"/nonexistent-dir/x.txt\""},
      {{"--checkpoint", "/nonexistent-dir/cp"}, 1, "cannot write \"/nonexistent-dir/cp\""},
      {{"--output", path("ok.txt"), "--covers", "/nonexistent-dir/c"}, 1, "cannot write"},
      {{"--output", path("a.txt"), "--checkpoint", path("./a.txt")}, 1, "is the same path as"},
      {{"--output", path("link.txt")}, 0, ""},
      {{"--covers", path("ours")}, 0, ""},
      {{"--covers", path("ours")}, 0, ""},  // a folder it wrote is replaced
  };
  for (const Case& c : cases) {
    const ProgramOutcome run = testing::run_program(census_run(with(kK8, c.args)));
    EXPECT_EQ(run.status, c.status) << c.args[1] << ": " << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }
  EXPECT_EQ(read_file(path("thesis/thesis.tex")), "mine\n");
  EXPECT_EQ(read_file(path("notes.txt")), "mine\n");
  EXPECT_FALSE(fs::exists(path("ok.txt")));
  EXPECT_FALSE(fs::exists(path("a.txt")));
  EXPECT_TRUE(fs::is_symlink(path("link.txt")));
  EXPECT_EQ(read_file(path("target.txt")), embedded_fixture_text(8));
  EXPECT_TRUE(fs::is_fifo(path("fifo")));
  write_file(path("ours/mine.tex"), "mine\n");
  const ProgramOutcome foreign =
      testing::run_program(census_run(with(kK8, {"--covers", path("ours")})));
  EXPECT_EQ(foreign.status, 1);
  EXPECT_EQ(read_file(path("ours/mine.tex")), "mine\n");

  // Without --output the list is standard output and the summary goes to
  // standard error.
  const ProgramOutcome plain = testing::run_program(census_run(kK8));
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out, embedded_fixture_text(8));
  EXPECT_NE(plain.err.find("irreducible covering sets: 65\n"), std::string::npos) << plain.err;
}

// A census run in parts: each part's list names its part, and the merge of
// every part, in any order, is the whole list; a merge that would not be
// the whole is refused.
TEST_F(CensusTool, PartsInAnyOrderMergeToTheWholeList) {
  const std::vector<std::string> k10 = {"--size", "10", "--max-lcm", "512"};
  const auto part = [&](std::string name, std::vector<std::string> args, int i, int n) {
    const std::string list = path(name + "-" + std::to_string(i) + ".txt");
    const ProgramOutcome run = testing::run_program(census_run(
        with(args, {"--part", std::to_string(i) + "/" + std::to_string(n), "--output", list})));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("part: " + std::to_string(i) + " of " + std::to_string(n)),
              std::string::npos)
        << run.out;
    return list;
  };
  const auto merge = [&](const std::vector<std::string>& lists) {
    return testing::run_program(
        census_run(with(with({"--merge"}, lists), {"--output", path("whole.txt")})));
  };
  const std::vector<std::vector<int>> orders = {{2, 1}, {5, 3, 1, 4, 2}, {7, 1, 6, 2, 5, 3, 4}};
  for (const std::vector<int>& order : orders) {
    const int n = static_cast<int>(order.size());
    std::vector<std::string> lists;
    for (const int i : order) lists.push_back(part("k10-of-" + std::to_string(n), k10, i, n));
    const ProgramOutcome merged = merge(lists);
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(read_file(path("whole.txt")), embedded_fixture_text(10)) << n << " parts";
    EXPECT_NE(merged.out.find("candidates: 28457\n"), std::string::npos) << merged.out;
    EXPECT_NE(merged.out.find("the sum over " + std::to_string(n) + " parts"), std::string::npos);
  }
  EXPECT_EQ(read_file(path("k10-of-2-1.txt")).rfind("# tilvane-census part 1 of 2: ", 0), 0u);

  const std::string k9 = part("k9", {"--size", "9", "--max-lcm", "256"}, 2, 2);
  std::string altered = read_file(path("k10-of-2-2.txt"));
  altered[altered.size() / 2] ^= 1;
  const std::string damaged = write_file(path("damaged.txt"), altered);
  write_file(path("whole.txt"), "kept\n");
  struct Case {
    std::vector<std::string> lists;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{path("k10-of-2-1.txt")}, "part 2 of 2 is missing"},
      {{path("k10-of-2-1.txt"), path("k10-of-2-2.txt"), path("k10-of-2-1.txt")},
       "part 1 of 2 is given twice"},
      {{path("k10-of-2-1.txt"), k9}, "part 2 of 2 belongs to another run than part 1 of 2"},
      {{path("k10-of-2-1.txt"), damaged}, "part list is damaged: checksum does not match"},
      {{path("k10-of-2-1.txt"),
        write_file(path("plain.txt"), std::string(embedded_fixture_text(10)))},
       "not a part list"},
      {{path("k10-of-2-1.txt"), path("whole.txt")}, "is the same path as a part list"},
      {{path("k10-of-2-1.txt"), path("k10-of-5-2.txt")}, "part 2 of 5 belongs to another run"},
  };
  for (const Case& c : cases) {
    const ProgramOutcome run = merge(c.lists);
    EXPECT_EQ(run.status, 1) << c.error;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    EXPECT_EQ(read_file(path("whole.txt")), "kept\n");
  }
}

// A checkpoint holding the first half of the k = 8 work, decided in the
// test itself, resumes to the whole list and the whole node total, so
// nothing is lost or counted twice.
TEST_F(CensusTool, ResumesFromACheckpointAndRefusesAnotherRunsOrADamagedOne) {
  const ExplorationPlan plan{{SpaceKind::CommonMultiples, 8, 128}, SearchKind::Exact, 0, 1};
  auto work = space_candidates(plan.space);
  ASSERT_TRUE(work);
  const Decider decider(plan);
  ExplorationLedger ledger(*work, {});
  for (std::size_t i = 0; i < work->size() / 2; ++i) {
    auto outcome = decider.decide((*work)[i]);
    ASSERT_TRUE(outcome);
    ASSERT_TRUE(ledger.record(i, std::move(*outcome)));
  }
  Checkpoint checkpoint{TILVANE_VERSION, plan, work->size(), ledger.tally(), 0};
  const std::string text = render_checkpoint(checkpoint);
  const std::vector<std::string> args =
      with(kK8, {"--search", "exact", "--output", path("k8.txt")});

  checkpoint.plan.max_nodes = 1000;
  write_file(path("k8.txt.checkpoint"), render_checkpoint(checkpoint));
  ProgramOutcome run = testing::run_program(census_run(args));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("checkpoint belongs to another run"), std::string::npos) << run.err;

  write_file(path("k8.txt.checkpoint"), text.substr(0, text.size() - 2));
  run = testing::run_program(census_run(args));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("checkpoint is damaged"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(path("k8.txt")));

  write_file(path("k8.txt.checkpoint"), text);
  run = testing::run_program(census_run(args));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_file(path("k8.txt")), embedded_fixture_text(8));
  EXPECT_NE(run.out.find("nodes: 32942353\n"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(path("k8.txt.checkpoint")));
}

// SIGTERM stops a run (here part 2 of 3) with a checkpoint and status 75,
// even when a second SIGTERM follows; the same command then finishes the
// part, and with the other parts it merges to the whole list. The signal comes once the first
// checkpoint is on disk, so the run is surely under way: the first run has the search's symmetry,
// fibre, redundant-class and dominance rules switched off, which makes it slow; the resumed one has
// them on, its dominance store starting empty, and must still give the list byte for byte.
using HeavyCensusTool = CensusTool;

TEST_F(HeavyCensusTool, SigtermCheckpointsAndTheRerunFinishes) {
  const std::vector<std::string> k11 = {"--size", "11", "--max-lcm", "1024"};
  const std::vector<std::string> args =
      with(k11, {"--part", "2/3", "--output", path("k11.txt"), "--checkpoint-interval", "1"});
  std::vector<std::string> slow = args;
  slow.insert(slow.end(),
              {"--without",
               "symmetry,fibres,redundant,dominance,local-search,deletions,covers,moduli-search"});
  testing::ProgramRun running(census_run(slow));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!fs::exists(path("k11.txt.checkpoint")) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // As a batch system does at a time limit: the second SIGTERM changes
  // nothing.
  ::kill(running.pid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(running.pid(), SIGCONT);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(running.pid(), SIGTERM);
  const ProgramOutcome stopped = running.finish();
  ASSERT_EQ(stopped.status, 75) << stopped.err;
  EXPECT_NE(stopped.err.find("checkpoint written to"), std::string::npos) << stopped.err;
  ASSERT_TRUE(fs::exists(path("k11.txt.checkpoint")));
  EXPECT_FALSE(fs::exists(path("k11.txt")));

  const ProgramOutcome resumed = testing::run_program(census_run(args));
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  // The other parts, and the merge of all three.
  for (const std::string i : {"3", "1"}) {
    const ProgramOutcome run = testing::run_program(
        census_run(with(k11, {"--part", i + "/3", "--output", path("k11-" + i + ".txt")})));
    ASSERT_EQ(run.status, 0) << run.err;
  }
  const ProgramOutcome merged =
      testing::run_program(census_run({"--merge", path("k11-3.txt"), path("k11.txt"),
                                       path("k11-1.txt"), "--output", path("whole.txt")}));
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(read_file(path("whole.txt")), embedded_fixture_text(11));
  EXPECT_NE(merged.out.find("irreducible covering sets: 17040\n"), std::string::npos) << merged.out;
}

// The whole k = 12 list, byte for byte the fixture; and on every 100th
// candidate of the space, the decision search (with and without its newer
// techniques) against the node-exact search, list against list. The
// node-exact search makes the second run take hours.
using SlowCensusTool = CensusTool;

const std::vector<std::string> kK12 = {"--size", "12", "--max-lcm", "2048"};

TEST_F(SlowCensusTool, K12ListEqualsTheFixture) {
  const ProgramOutcome run =
      testing::run_program(census_run(with(kK12, {"--output", path("k12.txt")})));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_file(path("k12.txt")),
            read_file(fs::path(TILVANE_SOURCE_DIR) / "fixtures/k12_expected.txt"));
}

TEST_F(SlowCensusTool, K12SampleAgreesWithTheNodeExactSearch) {
  const std::vector<std::string> sample = with(kK12, {"--sample", "100"});
  const std::vector<std::vector<std::string>> searches = {
      {"--search", "exact"},
      {"--search", "decide"},
      {"--search", "decide", "--without",
       "symmetry,fibres,redundant,dominance,local-search,deletions,covers,moduli-search"},
  };
  std::vector<std::string> lists;
  for (std::size_t i = 0; i < searches.size(); ++i) {
    const std::string out = path("sample" + std::to_string(i) + ".txt");
    const ProgramOutcome run =
        testing::run_program(census_run(with(with(sample, searches[i]), {"--output", out})));
    ASSERT_EQ(run.status, 0) << run.err;
    lists.push_back(read_file(out));
  }
  EXPECT_FALSE(lists[0].empty());
  EXPECT_EQ(lists[1], lists[0]);
  EXPECT_EQ(lists[2], lists[0]);
}

// --help, the manual page and the README name the same options: every
// option of the usage is documented in both, and the manual page has none
// that the program lacks (--sample only as the older name of --every).
TEST(CensusToolDocs, HelpManualAndReadmeNameTheSameOptions) {
  const auto options_in = [](std::string_view escaped) {
    std::string text;  // the manual page writes each hyphen as "\\-"
    for (std::size_t i = 0; i < escaped.size(); ++i) {
      if (escaped.substr(i, 2) != "\\-") text += escaped[i];
    }
    // Every "--" followed by lower-case letters and inner hyphens.
    std::set<std::string> names;
    const auto letter = [](char c) { return c >= 'a' && c <= 'z'; };
    for (std::size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at + 2)) {
      std::size_t end = at + 2;
      while (end < text.size() && (letter(text[end]) || text[end] == '-')) ++end;
      while (end > at + 2 && text[end - 1] == '-') --end;
      if (end > at + 2 && letter(text[at + 2])) names.insert(text.substr(at, end - at));
    }
    return names;
  };
  const std::set<std::string> help = options_in(census_usage("tilvane-census"));
  const std::string source = TILVANE_SOURCE_DIR;
  const std::string page = read_file(source + "/docs/tilvane-census.1");
  const std::size_t section = page.find(".SH OPTIONS");
  std::set<std::string> manual =
      options_in(std::string_view(page).substr(section, page.find(".SH OUTPUT") - section));
  const std::string readme = read_file(source + "/README.md");
  const std::set<std::string> documented =
      options_in(std::string_view(readme).substr(readme.find("## Exploring new spaces")));
  ASSERT_TRUE(manual.erase("--sample"));
  EXPECT_EQ(manual, help);
  for (const std::string& name : help) EXPECT_TRUE(documented.count(name)) << name;
}

// The interval of the mean: none for a constant sample, around the mean
// otherwise, and wider when the cost sits in a few blocks (runs) than when
// the same costs are spread over every block.
TEST(Estimate, BootstrapIntervalFollowsTheBlocks) {
  const std::vector<double> flat(512, 0.25);
  EXPECT_EQ(bootstrap_mean_interval(flat, 64), std::make_pair(0.25, 0.25));
  std::vector<double> lumped(512, 0.0);
  std::vector<double> spread(512, 0.0);
  for (std::size_t i = 0; i < 8; ++i) {
    lumped[i] = 1.0;  // all in the first block of 64
    spread[i * 64] = 1.0;
  }
  const auto [lumped_low, lumped_high] = bootstrap_mean_interval(lumped, 64);
  const auto [spread_low, spread_high] = bootstrap_mean_interval(spread, 1);
  const double mean = 8.0 / 512;
  EXPECT_LE(lumped_low, mean);
  EXPECT_GE(lumped_high, mean);
  EXPECT_LE(spread_low, mean);
  EXPECT_GE(spread_high, mean);
  EXPECT_GT(lumped_high - lumped_low, spread_high - spread_low);
  EXPECT_EQ(bootstrap_mean_interval({}, 1), std::make_pair(0.0, 0.0));
}

// The dearest candidates, dearest first; no more than the sample holds.
TEST(Estimate, DearestPositions) {
  const std::vector<double> seconds = {0.5, 3.0, 0.1, 2.0, 3.5};
  EXPECT_EQ(dearest_positions(seconds, 3), (std::vector<std::size_t>{4, 1, 3}));
  EXPECT_EQ(dearest_positions(std::span(seconds).first(2), 3), (std::vector<std::size_t>{1, 0}));
  EXPECT_TRUE(dearest_positions({}, 3).empty());
}

// A timed estimate stops sampling when its time is up and prices the space
// from what it decided, in CPU time, with an interval.
TEST_F(CensusTool, EstimatesFromAFixedOrATimedSample) {
  const std::vector<std::vector<std::string>> cases = {
      {"--estimate"}, {"--estimate", "--sample-time", "1"}, {"--estimate", "--every", "50"}};
  for (const auto& extra : cases) {
    const ProgramOutcome run = testing::run_program(census_run(with(kK8, extra)));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("CPU time per candidate: median "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" core-hours (90% interval "), std::string::npos) << run.out;
  }
}

// Runs of a space too large to decide whole: each run's first candidates
// fill the stores and are left out of the times, and the whole run's
// saving over the sample scales the figure.
TEST_F(HeavyCensusTool, EstimatesALargeSpaceFromTheRunsAfterTheirWarmUp) {
  const ProgramOutcome run = testing::run_program(
      census_run({"--estimate", "--size", "12", "--max-lcm", "2048", "--threads", "2", "--json"}));
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* field : {"\"sampled\":1048576,\"timed\":917504,", "\"run_length\":14336,",
                            "\"whole_run_factor\":0.76"}) {
    EXPECT_NE(run.out.find(field), std::string::npos) << field << "\n" << run.out;
  }
}

}  // namespace
}  // namespace tilvane
