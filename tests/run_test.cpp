// The command line: argument grammar and its order of checks, the budget,
// the usage text of each configuration, and report output whose failures are
// caught.
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
#include "tilvane/modes.h"
#include "tilvane/run.h"

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
const std::string kUsage =
    "usage: P <candidate.txt> [--max-nodes N]\n"
    "or: P --verify-small-census [--max-nodes N]\n"
    "or: P --verify-k6-census [--max-nodes N]\n"
    "or: P --verify-k7-census [--max-nodes N]\n"
    "or: P --verify-k8-census [--max-nodes N]\n"
    "candidate format: first token k, followed by exactly k pairs 'modulus residue'";
#else
constexpr bool kReduced = false;
const std::string kUsage =
    "usage: P <candidate.txt> [--max-nodes N]\n"
    "or: P --verify-small-census [--max-nodes N]\n"
    "or: P --verify-k6-census [--max-nodes N]\n"
    "or: P --verify-k7-census [--max-nodes N]\n"
    "or: P --verify-k8-census [--max-nodes N]\n"
    "or: P --verify-k9-census [--max-nodes N]\n"
    "or: P --verify-k10-census [--max-nodes N]\n"
    "or: P --verify-k11-census [--max-nodes N]\n"
    "candidate format: first token k, followed by exactly k pairs 'modulus residue'";
#endif

const std::string kMissing = ": No such file or directory (os error 2)";

TEST(Run, AcceptsOnlyTheTwoCommandShapes) {
  struct Case {
    std::vector<std::string_view> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{}, kUsage},
      {{"x", "--max-nodes"}, kUsage},
      {{"x", "--max-nodes", "5", "y"}, kUsage},
      {{"x", "--max-nodes", "5", "--max-nodes", "6"}, kUsage},
      {{"--max-nodes", "100", "x"}, kUsage},
      {{"x", "--max-nodes=5", "5"}, kUsage},
      {{"x", "--Max-Nodes", "5"}, kUsage},
      {{"x", "--max-nodes", "5", ""}, kUsage},
      // With the wrong shape the budget is never looked at.
      {{"x", "y", "0"}, kUsage},
      {{"--max-nodes"}, "cannot read candidate \"--max-nodes\"" + kMissing},
      {{"--Verify-K8-Census"}, "cannot read candidate \"--Verify-K8-Census\"" + kMissing},
      {{"--verify-k12-census"}, "cannot read candidate \"--verify-k12-census\"" + kMissing},
      {{"--verify-k8-census "}, "cannot read candidate \"--verify-k8-census \"" + kMissing},
      {{""}, "cannot read candidate \"\"" + kMissing},
  };
  for (const Case& c : cases) EXPECT_EQ(run_with(c.args), c.expected) << c.args.size();
}

TEST(Run, SettlesTheBudgetBeforeLookingAtTheTarget) {
  struct Case {
    std::string_view budget;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"0", "search-node budget must be positive"},
      {"+0", "search-node budget must be positive"},
      {"000", "search-node budget must be positive"},
      {"18446744073709551616", R"(invalid search-node budget: "18446744073709551616")"},
      {"-5", R"(invalid search-node budget: "-5")"},
      {"+", R"(invalid search-node budget: "+")"},
      {"1e6", R"(invalid search-node budget: "1e6")"},
      {"0x10", R"(invalid search-node budget: "0x10")"},
      {" 5", R"(invalid search-node budget: " 5")"},
      {"5\n", R"(invalid search-node budget: "5\n")"},
      {"", R"(invalid search-node budget: "")"},
      {"5\u00a0", R"(invalid search-node budget: "5\u{a0}")"},
      // A valid budget lets the target through to the file check.
      {"+7", "cannot read candidate \"no-such-file\"" + kMissing},
      {"18446744073709551615", "cannot read candidate \"no-such-file\"" + kMissing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run_with({"no-such-file", "--max-nodes", c.budget}), c.expected) << c.budget;
  }
  EXPECT_EQ(run_with({"--verify-k8-census", "--max-nodes", "x"}),
            R"(invalid search-node budget: "x")");
  EXPECT_EQ(run_with({"--verify-small-census", "--max-nodes", "0"}),
            "search-node budget must be positive");
}

TEST(Run, RefusesArgumentsThatAreNotUtf8BeforeAnythingElse) {
  struct Case {
    std::vector<std::string_view> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"P\xff"}, "argument 0 is not valid UTF-8"},
      {{"P", "c\xc0\x80.txt"}, "argument 1 is not valid UTF-8"},
      {{"P", "x", "--max-nodes", "\xed\xa0\x80"}, "argument 3 is not valid UTF-8"},
      // Before the count: this shape would otherwise be the usage text.
      {{"P", "a", "b", "c", "\xe2\x82"}, "argument 4 is not valid UTF-8"},
      {{"P", "\xff", "\xff"}, "argument 1 is not valid UTF-8"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    const Status status = run(c.args, out);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(), c.expected);
  }
}

TEST(Run, UsageShowsTheProgramNameOrTilvaneWithoutOne) {
  std::ostringstream out;
  const std::vector<std::string_view> none;
  const Status nameless = run(none, out);
  ASSERT_FALSE(nameless.ok());
  EXPECT_EQ(nameless.error().substr(0, nameless.error().find('\n')),
            "usage: tilvane <candidate.txt> [--max-nodes N]");
  EXPECT_EQ(usage_text("P"), kUsage);
  const std::string spaced = usage_text("./my tool");
  EXPECT_EQ(spaced.substr(0, spaced.find('\n')),
            "usage: ./my tool <candidate.txt> [--max-nodes N]");
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

// A pipe whose read end the test holds, so what was written can be checked.
struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~Pipe() {
    for (int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
  }
  std::string drain() {
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string text;
    char buffer[256];
    ssize_t got = 0;
    while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }
  int fds[2] = {-1, -1};
};

TEST(CheckedOutput, WritesWholeLinesAsTheyAreCompleted) {
  Pipe pipe;
  CheckedOutputBuffer buffer(pipe.fds[1]);
  std::ostream out(&buffer);
  out << "census " << 7;
  EXPECT_EQ(pipe.drain(), "");
  out << '\n';
  EXPECT_EQ(pipe.drain(), "census 7\n");
  out << "a\nb";
  EXPECT_EQ(pipe.drain(), "a\nb");
  out << "c";
  out.flush();
  EXPECT_EQ(pipe.drain(), "c");
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
