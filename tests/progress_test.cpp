// Census progress: the text of the progress line, how often it is drawn and
// that it is always erased, the stages the census drivers report, and the
// program itself with standard error on a pseudo-terminal and on a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/text_format.h"
#include "census/census_progress.h"
#include "census/sequential_census.h"
#include "cli/log_progress.h"
#include "cli/terminal_progress.h"
#if !TILVANE_REDUCED
#include "census/embedded_fixtures.h"
#include "census/parallel_census.h"
#include "census/worker_pool.h"
#endif
#include "program_run.h"

namespace tilvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kErase = "\r\x1b[K";

TEST(ProgressLine, ShowsCountRateAndTimeLeft) {
  struct Case {
    ProgressFigures figures;
    std::string_view line;
  };
  const std::vector<Case> cases = {
      {{"k=11", 0, 343875, 0, {}, 5s}, "k=11: 0/343875 candidates decided"},
      {{"k=11", 700, 343875, 0, {}, 10s},
       "k=11: 700/343875 candidates decided, 70.0/s, about 1:21:43 left"},
      {{"k=8", 4000, 7443, 0, {}, 2s},
       "k=8: 4000/7443 candidates decided, 2000.0/s, about 0:02 left"},
      {{"k=9", 1, 10, 0, {}, 3s}, "k=9: 1/10 candidates decided, 0.3/s, about 0:27 left"},
      {{"k=7", 378, 378, 0, {}, 1500ms},
       "k=7: 378/378 candidates decided, 252.0/s, about 0:00 left"},
      // No time has passed: no rate to tell.
      {{"k=3", 1, 1, 0, {}, 0s}, "k=3: 1/1 candidates decided"},
      // A resumed run: the rate and the time left count its own candidates
      // only; the sets found are shown when known.
      {{"k=10", 20000, 28457, 19000, 1, 10s},
       "k=10: 20000/28457 candidates decided, 1 set found, 100.0/s, about 1:25 left"},
      {{"k=10", 19000, 28457, 19000, 2890, 10s},
       "k=10: 19000/28457 candidates decided, 2890 sets found"},
  };
  for (const Case& c : cases) EXPECT_EQ(progress_line(c.figures), c.line);
}

// Lines at most every interval, timestamped, and a last one only when the
// stage wrote any.
TEST(LogProgress, WritesAWholeLineEveryIntervalAndALastOne) {
  testing::Pipe log;
  Clock::time_point now{};
  const std::chrono::system_clock::time_point wall{std::chrono::seconds(1796828587)};
  LogProgress progress(
      log.fds[1], 60s, [&] { return now; }, [&] { return wall; });
  progress.started("k=10", 28457, 0);
  now += 59s;
  progress.advanced(100);
  progress.finished();
  EXPECT_EQ(log.take(), "") << "a run shorter than the interval writes nothing";

  progress.started("k=13", 1000, 400);
  progress.found(7);
  now += 60s;
  progress.advanced(500);
  now += 30s;
  progress.advanced(700);
  EXPECT_EQ(log.take(),
            "2026-12-09T15:03:07Z k=13: 500/1000 candidates decided, 7 sets found, 1.7/s, about "
            "5:00 left, 1:00 elapsed\n");
  now += 30s;
  progress.advanced(1000);
  EXPECT_NE(log.take(), "");
  progress.finished();
  EXPECT_EQ(log.take(),
            "2026-12-09T15:03:07Z k=13: 1000/1000 candidates decided, 7 sets found, 5.0/s, about "
            "0:00 left, 2:00 elapsed\n");
}

TEST(ProgressLine, DurationsReadAsAClockRoundedUp) {
  const std::vector<std::pair<Clock::duration, std::string_view>> cases = {
      {0s, "0:00"},       {1ms, "0:01"},        {59s, "0:59"},
      {59200ms, "1:00"},  {3599s, "59:59"},     {3600s, "1:00:00"},
      {3661s, "1:01:01"}, {90061s, "25:01:01"}, {-5s, "0:00"},
  };
  for (const auto& [length, text] : cases) EXPECT_EQ(clock_duration(length), text);
}

TEST(TerminalProgress, DrawsAtMostEveryIntervalAndErasesOnlyWhatItShowed) {
  testing::Pipe screen;
  Clock::time_point now{};
  TerminalProgress progress(screen.fds[1], [&] { return now; });

  // Nothing is shown before a stage, and finishing then erases nothing.
  progress.advanced(5);
  progress.finished();
  EXPECT_EQ(screen.take(), "");

  progress.started("k=9", 100, 0);
  EXPECT_EQ(screen.take(), "\rk=9: 0/100 candidates decided\x1b[K");
  now += 100ms;
  progress.advanced(10);
  now += 149ms;
  progress.advanced(20);
  EXPECT_EQ(screen.take(), "") << "drawn again within the interval";
  now += 1ms;
  progress.advanced(25);
  EXPECT_EQ(screen.take(), "\rk=9: 25/100 candidates decided, 100.0/s, about 0:01 left\x1b[K");

  progress.finished();
  EXPECT_EQ(screen.take(), kErase);
  progress.finished();
  progress.advanced(30);
  EXPECT_EQ(screen.take(), "") << "finished twice, or advanced outside a stage";

  // A stage that starts right after a drawing waits for the interval, and
  // finishing it erases nothing since nothing was shown.
  now += 100ms;
  progress.started("k=4", 35, 0);
  progress.finished();
  EXPECT_EQ(screen.take(), "");
  // Stages without candidates are never drawn.
  now += 1s;
  progress.started("k=1", 0, 0);
  progress.finished();
  EXPECT_EQ(screen.take(), "");
  progress.started("k=5", 3003, 0);
  EXPECT_EQ(screen.take(), "\rk=5: 0/3003 candidates decided\x1b[K");
}

TEST(TerminalProgress, GoingAwayErasesTheLine) {
  testing::Pipe screen;
  {
    TerminalProgress progress(screen.fds[1]);
    progress.started("k=8", 7443, 0);
  }
  const std::string shown = screen.take();
  ASSERT_GE(shown.size(), kErase.size());
  EXPECT_EQ(shown.substr(shown.size() - kErase.size()), kErase);
}

// A pseudo-terminal in raw mode, so that what is written arrives unchanged.
struct Pty {
  int master = -1;
  int slave = -1;
  explicit Pty(unsigned short columns) {
    termios mode{};
    ::cfmakeraw(&mode);
    winsize size{};
    size.ws_col = columns;
    size.ws_row = 24;
    EXPECT_EQ(::openpty(&master, &slave, nullptr, &mode, &size), 0) << errno;
  }
  ~Pty() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }
};

TEST(TerminalProgress, LineIsCutToTheTerminalWidth) {
  Pty pty(20);
  {
    TerminalProgress progress(pty.slave);
    progress.started("k=11", 343875, 0);
  }
  ::close(pty.slave);
  pty.slave = -1;
  EXPECT_EQ(testing::read_available(pty.master),
            std::string("\rk=11: 0/343875 cand\x1b[K") + std::string(kErase));
}

// Records the stages a census reports and how much of its report it had
// written at each start and finish, and checks what it is told as it goes.
class RecordingProgress final : public CensusProgress {
 public:
  explicit RecordingProgress(const std::ostringstream& out) : out_(out) {}
  void started(std::string_view label, std::uint64_t total, std::uint64_t) override {
    EXPECT_FALSE(open_) << "a stage started inside another";
    open_ = true;
    total_ = total;
    last_done_ = 0;
    events.push_back(cat("started ", label, " of ", total, " after ", out_.str().size()));
  }
  void advanced(std::uint64_t done) override {
    EXPECT_TRUE(open_);
    EXPECT_GE(done, last_done_);
    EXPECT_LE(done, total_);
    last_done_ = done;
    ++advances;
  }
  void finished() override {
    if (!open_) return;
    open_ = false;
    events.push_back(cat("finished after ", out_.str().size()));
  }

  std::vector<std::string> events;
  std::size_t advances = 0;

 private:
  const std::ostringstream& out_;
  bool open_ = false;
  std::uint64_t total_ = 0;
  std::uint64_t last_done_ = 0;
};

TEST(CensusProgressStages, EverySizeIsAStageFinishedBeforeItsReportLine) {
  std::ostringstream out;
  RecordingProgress progress(out);
  ASSERT_TRUE(verify_census(5, 50000000, out, progress).ok());
  // Each census line is 35 bytes up to k=4.
  EXPECT_EQ(progress.events,
            (std::vector<std::string>{"started k=1 of 0 after 0", "finished after 0",
                                      "started k=2 of 0 after 35", "finished after 35",
                                      "started k=3 of 1 after 70", "finished after 70",
                                      "started k=4 of 35 after 105", "finished after 105",
                                      "started k=5 of 3003 after 140", "finished after 140"}));
  EXPECT_GT(progress.advances, 0u);
}

TEST(CensusProgressStages, ReportAndFiguresAreTheSameWithProgress) {
  std::ostringstream quiet;
  ASSERT_TRUE(verify_k7_census(50000000, quiet).ok());
  std::ostringstream out;
  RecordingProgress progress(out);
  ASSERT_TRUE(verify_k7_census(50000000, out, progress).ok());
  EXPECT_EQ(out.str(), quiet.str());
  EXPECT_EQ(progress.events,
            (std::vector<std::string>{"started k=7 of 378 after 0", "finished after 0"}));
  // Every 64 candidates: 64, 128, ..., 320.
  EXPECT_EQ(progress.advances, 5u);
}

TEST(CensusProgressStages, AFailingCensusFinishesItsStageToo) {
  std::ostringstream out;
  RecordingProgress progress(out);
  EXPECT_FALSE(verify_k7_census(1, out, progress).ok());
  EXPECT_EQ(progress.events,
            (std::vector<std::string>{"started k=7 of 378 after 0", "finished after 0"}));
}

#if !TILVANE_REDUCED
TEST(CensusProgressStages, ParallelCensusFinishesItsStageBeforeItReports) {
  auto pool = WorkerPool::start(2);
  ASSERT_TRUE(pool.ok()) << pool.error();
  ParallelCensus census;
  census.k = 8;
  census.fixture_text = embedded_fixture_text(8);
  census.generate_candidates = []() -> Result<ModuliSetList> {
    return ModuliSetList{{2, 3, 4, 6, 8, 12, 16, 48}, {2, 3, 4, 6, 8, 12, 24, 48}};
  };
  census.pool = pool->get();
  std::ostringstream out;
  RecordingProgress progress(out);
  const Status status = run_parallel_census(census, 50000000, out, progress);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().rfind("k=8 census mismatch: computed ", 0), 0u) << status.error();
  EXPECT_EQ(progress.events,
            (std::vector<std::string>{"started k=8 of 2 after 0", "finished after 0"}));
}

// The waiting thread is called while the job runs and sees the workers'
// relaxed counter only grow; every index still runs exactly once.
TEST(CensusProgressStages, WaitingThreadSeesTheDecidedCountGrow) {
  auto pool = WorkerPool::start(2);
  ASSERT_TRUE(pool.ok()) << pool.error();
  constexpr std::size_t count = 40;
  std::vector<std::atomic<int>> calls(count);
  std::atomic<std::uint64_t> decided{0};
  std::vector<std::uint64_t> seen;
  (*pool)->for_each_index(
      count,
      [&](std::size_t i) {
        std::this_thread::sleep_for(5ms);
        calls[i].fetch_add(1);
        decided.fetch_add(1, std::memory_order_relaxed);
      },
      2ms, [&] { seen.push_back(decided.load(std::memory_order_relaxed)); });
  for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(calls[i].load(), 1) << i;
  ASSERT_FALSE(seen.empty());
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i], seen[i - 1]);
  EXPECT_LE(seen.back(), count);
}
#endif

// ---- The program itself ----

enum class Streams { ErrorOnPipe, ErrorOnTerminal, BothOnTerminal };

using ProgramRun = tilvane::testing::ProgramOutcome;

// Runs the built program with standard error, or both streams, on a
// pseudo-terminal 200 columns wide; what the terminal receives comes back as
// standard error.
ProgramRun run_program(const std::vector<std::string>& args, Streams streams) {
  using tilvane::testing::Sink;
  tilvane::testing::ProgramOptions options = tilvane::testing::with_args(args);
  if (streams == Streams::ErrorOnPipe) return tilvane::testing::run_program(options);
  Pty pty(200);
  options.err = {Sink::Descriptor, pty.slave, pty.master};
  if (streams == Streams::BothOnTerminal) options.out = {Sink::Descriptor, pty.slave, -1};
  pty.master = pty.slave = -1;  // the run closes them
  return tilvane::testing::run_program(options);
}

// True when text is pattern, where '#' stands for a run of ASCII digits and
// '@' for a run of digits and colons. (std::regex would be shorter, but
// GCC 12 warns inside it under the sanitizers.)
bool matches(std::string_view text, std::string_view pattern) {
  std::size_t at = 0;
  for (const char p : pattern) {
    if (p != '#' && p != '@') {
      if (at == text.size() || text[at] != p) return false;
      ++at;
      continue;
    }
    const std::size_t start = at;
    while (at < text.size() &&
           ((text[at] >= '0' && text[at] <= '9') || (p == '@' && text[at] == ':'))) {
      ++at;
    }
    if (at == start) return false;
  }
  return at == text.size();
}

bool is_progress_drawing(std::string_view line) {
  return matches(line, "k=#: #/# candidates decided") ||
         matches(line, "k=#: #/# candidates decided, #.#/s, about @ left");
}

// The terminal text without its drawings and erasures ("\r...\x1b[K").
std::string without_drawings(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = text.find('\r', at);
    if (start == std::string::npos) break;
    const std::size_t end = text.find("\x1b[K", start);
    if (end == std::string::npos) break;
    out.append(text, at, start - at);
    at = end + 3;
  }
  out.append(text, at, std::string::npos);
  return out;
}

// Reads what a terminal received as progress drawings, erasures and other
// text, and checks that other text is only ever written while no progress
// line is shown and that the terminal ends with none shown. Returns the
// number of drawings.
std::size_t check_terminal_text(const std::string& text) {
  std::size_t drawings = 0;
  bool shown = false;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text[at] == '\r') {
      const std::size_t end = text.find("\x1b[K", at);
      if (end == std::string::npos) {
        ADD_FAILURE() << "a return without an erasure at " << at;
        return drawings;
      }
      const std::string line = text.substr(at + 1, end - at - 1);
      if (line.empty()) {
        shown = false;
      } else {
        EXPECT_TRUE(is_progress_drawing(line)) << line;
        shown = true;
        ++drawings;
      }
      at = end + 3;
    } else {
      const std::size_t end = std::min(text.find('\r', at), text.size());
      EXPECT_FALSE(shown) << "written over a progress line: " << text.substr(at, end - at);
      at = end;
    }
  }
  EXPECT_FALSE(shown) << "the progress line is left on the terminal";
  return drawings;
}

const std::string kK8Report =
    "census k=8: 65 irreducible sets (exact list in fixtures/k8_expected.txt)\n"
    "k=8 extrema: minimum largest modulus=36; maximum largest modulus=96; maximum "
    "reciprocal sum=14/9\n"
    "PASS: exhaustive k=8 common-multiple census checked 7443 candidate sets (32942353 "
    "exhaustive DFS nodes)\n";

TEST(ProgressOnTerminal, K8CensusDrawsProgressAndErasesItBeforeTheReport) {
  const ProgramRun run = run_program({"--verify-k8-census"}, Streams::ErrorOnTerminal);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kK8Report);
  EXPECT_EQ(run.err.rfind("\rk=8: 0/7443 candidates decided\x1b[K", 0), 0u) << run.err;
  EXPECT_GE(check_terminal_text(run.err), 1u);
  EXPECT_EQ(run.err.find('\n'), std::string::npos);
}

TEST(ProgressOnTerminal, FailLineFollowsTheErasure) {
  const ProgramRun run =
      run_program({"--verify-k8-census", "--max-nodes", "1"}, Streams::ErrorOnTerminal);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "\rk=8: 0/7443 candidates decided\x1b[K\r\x1b[K"
            "FAIL: full-cover search for [2, 3, 4, 5, 6, 8, 10, 12] exceeded 1 nodes\n");
}

// With both streams on one terminal, every report line lands on a clean line
// and, without the drawings and erasures, the terminal shows exactly the
// report.
TEST(ProgressOnTerminal, ReportLinesNeverShareALineWithProgress) {
  std::ostringstream small_report;
  ASSERT_TRUE(verify_census(5, 50000000, small_report).ok());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--verify-small-census", small_report.str()}, {"--verify-k8-census", kK8Report}};
  for (const auto& [option, report] : cases) {
    const ProgramRun run = run_program({option}, Streams::BothOnTerminal);
    EXPECT_EQ(run.status, 0) << option;
    EXPECT_GE(check_terminal_text(run.err), 1u) << option;
    EXPECT_EQ(without_drawings(run.err), report) << option;
  }
}

TEST(ProgressOffTerminal, StandardErrorCarriesOnlyTheFailLine) {
  std::ostringstream k7_report;
  ASSERT_TRUE(verify_k7_census(50000000, k7_report).ok());
  std::ostringstream small_report;
  ASSERT_TRUE(verify_census(5, 50000000, small_report).ok());
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
  };
  const std::vector<Case> cases = {
      {{"--verify-k7-census"}, k7_report.str(), "", 0},
      {{"--verify-small-census"}, small_report.str(), "", 0},
      {{"--verify-k8-census", "--max-nodes", "1"},
       "",
       "FAIL: full-cover search for [2, 3, 4, 5, 6, 8, 10, 12] exceeded 1 nodes\n",
       1},
  };
  for (const Case& c : cases) {
    const ProgramRun run = run_program(c.args, Streams::ErrorOnPipe);
    EXPECT_EQ(run.out, c.out) << c.args[0];
    EXPECT_EQ(run.err, c.err) << c.args[0];
    EXPECT_EQ(run.status, c.status) << c.args[0];
  }
}

}  // namespace
}  // namespace tilvane
