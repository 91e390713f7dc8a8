// The command line: argument grammar and its order of checks, the budget,
// the usage text of each configuration, and report output whose failures are
// caught.
#include "tilvane/run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/checked_output.h"
#include "program_run.h"
#include "tilvane/modes.h"

namespace tilvane {
namespace {

using namespace std::string_literals;

// The outcome of run for the arguments after the program name "P".
std::string run_with(std::vector<std::string_view> args) {
  args.insert(args.begin(), "P");
  std::ostringstream out;
  const Status status = run(args, out);
  EXPECT_EQ(out.str(), "");
  return status ? "ok" : status.error();
}

#if TILVANE_REDUCED
constexpr bool kReduced = true;
#else
constexpr bool kReduced = false;
#endif
const std::string kUsage =
    "usage: P <candidate.txt> [--max-nodes N]\n"
    "or: P --verify-small-census [--max-nodes N]\n"
    "or: P --verify-k6-census [--max-nodes N]\n"
    "or: P --verify-k7-census [--max-nodes N]\n"
    "or: P --verify-k8-census [--max-nodes N]\n"
#if !TILVANE_REDUCED
    "or: P --verify-k9-census [--max-nodes N]\n"
    "or: P --verify-k10-census [--max-nodes N]\n"
    "or: P --verify-k11-census [--max-nodes N]\n"
#endif
    "candidate format: first token k, followed by exactly k pairs 'modulus residue'";

const std::string kMissing = ": No such file or directory (os error 2)";

// The folders of tests/e2e run most refusals through the program; these are
// the rest, in the order the checks are made: UTF-8, then the shape, then the
// budget, then the target.
TEST(Run, ChecksEncodingShapeBudgetAndTargetInTurn) {
  struct Case {
    std::vector<std::string_view> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // Before the count: this shape would otherwise be the usage text.
      {{"a", "b", "c", "\xe2\x82"}, "argument 4 is not valid UTF-8"},
      {{"\xff", "\xff"}, "argument 1 is not valid UTF-8"},
      {{"x", "--max-nodes", "5", "--max-nodes", "6"}, kUsage},
      {{"x", "--max-nodes=5", "5"}, kUsage},
      {{"x", "--Max-Nodes", "5"}, kUsage},
      {{"x", "--max-nodes", "5", ""}, kUsage},
      // With the wrong shape the budget is never looked at.
      {{"x", "y", "0"}, kUsage},
      {{"no-such-file", "--max-nodes", "000"}, "search-node budget must be positive"},
      {{"--verify-k8-census", "--max-nodes", "x"}, R"(invalid search-node budget: "x")"},
      {{"--verify-small-census", "--max-nodes", "0"}, "search-node budget must be positive"},
      {{"--verify-k8-census "}, "cannot read candidate \"--verify-k8-census \"" + kMissing},
  };
  for (const Case& c : cases) EXPECT_EQ(run_with(c.args), c.expected) << c.args.size();
}

// Without even a program name the usage text names tilvane.
TEST(Run, UsageWithoutAProgramNameShowsTilvane) {
  std::ostringstream out;
  const Status nameless = run(std::vector<std::string_view>{}, out);
  ASSERT_FALSE(nameless.ok());
  EXPECT_EQ(nameless.error().substr(0, nameless.error().find('\n')),
            "usage: tilvane <candidate.txt> [--max-nodes N]");
}

TEST(Run, CensusOptionsOfTheBuild) {
  for (std::string_view option : {"--verify-small-census", "--verify-k6-census",
                                  "--verify-k7-census", "--verify-k8-census"}) {
    EXPECT_NE(find_census_mode(option), nullptr) << option;
  }
  for (std::string_view option :
       {"--verify-k9-census", "--verify-k10-census", "--verify-k11-census"}) {
    EXPECT_EQ(find_census_mode(option) != nullptr, !kReduced) << option;
  }
  for (std::string_view option :
       {"", "--verify-census", "--verify-k5-census", "--verify-k12-census", "--VERIFY-K8-CENSUS",
        "verify-k8-census"}) {
    EXPECT_EQ(find_census_mode(option), nullptr) << option;
  }
}

using testing::Pipe;

TEST(CheckedOutput, WritesWholeLinesAsTheyAreCompleted) {
  Pipe pipe;
  CheckedOutputBuffer buffer(pipe.fds[1]);
  std::ostream out(&buffer);
  out << "census " << 7;
  EXPECT_EQ(pipe.take(), "");
  out << '\n';
  EXPECT_EQ(pipe.take(), "census 7\n");
  out << "a\nb";
  EXPECT_EQ(pipe.take(), "a\nb");
  out << "c";
  out.flush();
  EXPECT_EQ(pipe.take(), "c");
  EXPECT_TRUE(out.good());
  EXPECT_EQ(buffer.error_number(), 0);
}

TEST(CheckedOutput, KeepsTheFirstFailureAndFailsTheStream) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  CheckedOutputBuffer to_full(full);
  std::ostream out(&to_full);
  out << "PASS: line\n";
  EXPECT_TRUE(out.bad());
  EXPECT_EQ(to_full.error_number(), ENOSPC);
  out.clear();
  out << "more\n";
  EXPECT_EQ(to_full.error_number(), ENOSPC);
  ::close(full);

  // A line that is still pending fails at the flush.
  int closed = -1;
  {
    Pipe pipe;
    closed = pipe.fds[1];
  }
  CheckedOutputBuffer to_closed(closed);
  std::ostream late(&to_closed);
  late << "no line feed yet";
  EXPECT_EQ(to_closed.error_number(), 0);
  late.flush();
  EXPECT_TRUE(late.bad());
  EXPECT_EQ(to_closed.error_number(), EBADF);
}

TEST(CheckedOutput, AReaderThatWentAwayIsAWriteFailure) {
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  Pipe pipe;
  ::close(pipe.fds[0]);
  pipe.fds[0] = -1;
  CheckedOutputBuffer buffer(pipe.fds[1]);
  std::ostream out(&buffer);
  out << "PASS\n";
  EXPECT_EQ(buffer.error_number(), EPIPE);
  std::signal(SIGPIPE, previous);
}

}  // namespace
}  // namespace tilvane
