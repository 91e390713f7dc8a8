// Bad inputs run end to end that the case folders of tests/e2e cannot hold:
// files generated at run time (tokens of a million digits), special files
// (a FIFO, a socket, a symbolic-link loop, a file without read permission)
// and arguments too long to write down. Each run must end with its exact
// FAIL line, status 1 and nothing on standard output, or pass where the
// input, however odd, is a valid candidate.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/checked_output.h"
#include "program_run.h"
#include "test_files.h"

namespace {

const std::string kCoveringRows = "2 0\n3 0\n4 1\n6 5\n12 7\n";
const std::string kCovering = "5\n" + kCoveringRows;
const std::string kPass =
    "PASS: 5 distinct moduli; displayed classes cover "
    "period 12; every one-modulus deletion is "
    "non-covering (54 exhaustive DFS nodes)\n";

using Outcome = tilvane::testing::ProgramOutcome;
using tilvane::testing::ProgramRun;

Outcome run_program(const std::vector<std::string>& args) {
  return tilvane::testing::run_program(tilvane::testing::with_args(args));
}

// The outcome of a failing run: its FAIL line, status 1, no report.
Outcome failure(const std::string& error_text) { return {"", "FAIL: " + error_text + "\n", 1, 0}; }
Outcome success(const std::string& report) { return {report, "", 0, 0}; }

void expect_outcome(const Outcome& got, const Outcome& expected, const std::string& what) {
  EXPECT_EQ(got.status, expected.status) << what;
  EXPECT_EQ(got.out, expected.out) << what;
  // A million-digit message is compared whole but shown only in part.
  EXPECT_TRUE(got.err == expected.err) << what << "\nstandard error: " << got.err.substr(0, 200)
                                       << "\nexpected:       " << expected.err.substr(0, 200);
}

using BadInput = tilvane::testing::ScratchDir;

TEST_F(BadInput, MillionDigitTokensAreRejectedWholeOrReadWhenTheyFit) {
  const std::string nines(1'000'000, '9');
  const std::string zeros(999'999, '0');
  struct Case {
    std::string name;
    std::string content;
    Outcome expected;
  };
  const std::vector<Case> cases = {
      {"as k", nines + "\n" + kCoveringRows, failure("invalid size k: \"" + nines + "\"")},
      {"as a modulus", "5\n2 0\n" + nines + " 0\n4 1\n6 5\n12 7\n",
       failure("invalid modulus on row 2: \"" + nines + "\"")},
      {"as a residue", "5\n2 0\n3 0\n4 " + nines + "\n6 5\n12 7\n",
       failure("invalid residue on row 3: \"" + nines + "\"")},
      {"as a trailing token", kCovering + nines + "\n",
       failure("unexpected trailing token: \"" + nines + "\"")},
      // Leading zeros do not count against the 64 bits.
      {"of leading zeros in k", "+" + zeros + "5\n" + kCoveringRows, success(kPass)},
      {"of leading zeros in a residue", "5\n2 0\n3 0\n4 " + zeros + "1\n6 5\n12 7\n",
       success(kPass)},
      {"of zeros as a modulus", "1\n" + zeros + "0 0\n", failure("modulus on row 1 must exceed 1")},
  };
  for (const Case& c : cases) {
    expect_outcome(run_program({write("c.txt", c.content)}), c.expected, c.name);
  }
}

// A single argument may hold 128 KiB on Linux; a budget of a hundred
// thousand digits is refused with the whole argument quoted, or read when
// all but its last digits are zeros.
TEST_F(BadInput, HundredThousandDigitBudgets) {
  const std::string candidate = write("c.txt", kCovering);
  const std::string nines(100'000, '9');
  expect_outcome(run_program({candidate, "--max-nodes", nines}),
                 failure("invalid search-node budget: \"" + nines + "\""), "nines");
  expect_outcome(run_program({candidate, "--max-nodes", std::string(99'998, '0') + "54"}),
                 success(kPass), "zeros then 54");
  expect_outcome(run_program({candidate, "--max-nodes", std::string(100'000, '0')}),
                 failure("search-node budget must be positive"), "zeros");
}

// Opens the FIFO for writing once the program has opened it for reading,
// giving up after ten seconds (the program may have failed before opening).
int open_fifo_writer(const std::string& fifo) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != ENXIO || std::chrono::steady_clock::now() > deadline) return fd;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Back to blocking writes (the program reads while the test writes), then
// the program's own writer.
void write_blocking(int fd, const std::string& text) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const int error = tilvane::write_all(fd, text);
  ASSERT_EQ(error, 0) << std::strerror(error);
}

// A FIFO has no size to read in advance: the program reads until its writer
// closes. Closed at once it is an empty candidate; fed a candidate behind
// several pipe buffers of white space, it is read whole and passes.
TEST_F(BadInput, FifoIsReadUntilItsWriterCloses) {
  const std::string fifo = path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  struct Case {
    std::string name;
    std::string content;
    Outcome expected;
  };
  const std::vector<Case> cases = {
      {"closed at once", "", failure("empty candidate: expected k")},
      {"a candidate", kCovering, success(kPass)},
      {"a candidate after a megabyte of blanks", std::string(1 << 20, ' ') + kCovering,
       success(kPass)},
      {"not UTF-8", kCovering + "\xff",
       failure("cannot read candidate \"" + fifo + "\": stream did not contain valid UTF-8")},
  };
  for (const Case& c : cases) {
    ProgramRun running(tilvane::testing::with_args({fifo}));
    const int writer = open_fifo_writer(fifo);
    ASSERT_GE(writer, 0) << c.name << ": the program never opened the FIFO";
    write_blocking(writer, c.content);
    ::close(writer);
    expect_outcome(running.finish(), c.expected, c.name);
  }
}

TEST_F(BadInput, SpecialFilesReportTheSystemsReason) {
  const std::string loop = path("loop");
  ASSERT_EQ(::symlink("loop", loop.c_str()), 0) << std::strerror(errno);
  expect_outcome(run_program({loop}),
                 failure("cannot read candidate \"" + loop +
                         "\": Too many levels of symbolic links (os error 40)"),
                 "symbolic-link loop");

  const std::string socket_path = path("socket");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
      << std::strerror(errno);
  expect_outcome(run_program({socket_path}),
                 failure("cannot read candidate \"" + socket_path +
                         "\": No such device or address (os error 6)"),
                 "socket");
  ::close(sock);
}

// Permissions do not bind a privileged user (tests may run as root), so the
// case is skipped when the file stays readable.
TEST_F(BadInput, FileWithoutReadPermission) {
  const std::string locked = write("locked.txt", kCovering);
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  if (::access(locked.c_str(), R_OK) == 0) {
    GTEST_SKIP() << "this user reads files without read permission";
  }
  expect_outcome(
      run_program({locked}),
      failure("cannot read candidate \"" + locked + "\": Permission denied (os error 13)"),
      "no read permission");
}

using HeavyBadInput = tilvane::testing::ScratchDir;

// The searches of a candidate check keep their state in memory sized by the
// period and the number of moduli, never by the nodes visited: a check of
// 128 moduli with period 17297280 that runs out of a budget of 50000 nodes
// peaks at the same resident memory as one that stops after one node. The
// moduli are 2, 3, 4, 6 and 12 (covering on their own) and 123 larger
// divisors of the period, so that deleting a modulus leaves searches that
// neither end quickly nor are excluded by the sum of reciprocals.
TEST_F(HeavyBadInput, LongCandidateSearchKeepsItsMemoryFlat) {
  constexpr std::uint64_t kPeriod = 17297280;
  std::string rows = "2 0\n3 0\n4 1\n6 5\n12 7\n";
  int added = 0;
  for (std::uint64_t d = 401; added < 122; ++d) {
    if (kPeriod % d == 0) {
      rows += std::to_string(d) + " 1\n";
      ++added;
    }
  }
  rows += std::to_string(kPeriod) + " 1\n";
  const std::string candidate = write("c.txt", "128\n" + rows);

  const Outcome short_run = run_program({candidate, "--max-nodes", "1"});
  EXPECT_EQ(short_run.err, "FAIL: irreducibility undecided after 1 search nodes; no PASS\n");
  const Outcome long_run = run_program({candidate, "--max-nodes", "50000"});
  EXPECT_TRUE(long_run.err.starts_with("FAIL: irreducibility ")) << long_run.err;
  EXPECT_NE(long_run.err.find(" 50000 "), std::string::npos) << long_run.err;
  EXPECT_EQ(long_run.out, "");
  EXPECT_LT(long_run.peak_kib, short_run.peak_kib + 4096)
      << "peak after one node " << short_run.peak_kib << " KiB, after 50000 nodes "
      << long_run.peak_kib << " KiB";
  std::printf("peak resident memory: %ld KiB after 1 node, %ld KiB after 50000 nodes\n",
              short_run.peak_kib, long_run.peak_kib);
}

}  // namespace
