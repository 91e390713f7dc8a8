// The progress of a census as plain lines in a log (standard error of a
// batch job, say): one line at every interval, each a whole line that a
// file or a pipe keeps as it is:
// "2026-12-09T15:03:07Z k=13: 7168/343875 candidates decided, 1234 sets
// found, 155.6/s, about 35:31 left, 0:46 elapsed".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "census/census_progress.h"
#include "cli/terminal_progress.h"

namespace tilvane {

// Writes a line to fd once interval has passed since the stage started or
// since the last line, and a last line when a stage that wrote any
// finishes, so that a short run writes nothing. A failed write is not an
// error of the census: the log then stays silent.
class LogProgress final : public CensusProgress {
 public:
  using Clock = std::chrono::steady_clock;

  // now and wall tell the time; tests pass their own clocks.
  LogProgress(
      int fd, std::chrono::milliseconds interval,
      std::function<Clock::time_point()> now = Clock::now,
      std::function<std::chrono::system_clock::time_point()> wall = std::chrono::system_clock::now);
  LogProgress(const LogProgress&) = delete;
  LogProgress& operator=(const LogProgress&) = delete;
  ~LogProgress() override;

  void started(std::string_view label, std::uint64_t total, std::uint64_t already) override;
  void advanced(std::uint64_t done) override;
  void found(std::uint64_t sets) override { stage_.set_found(sets); }
  void finished() override;

 private:
  void write_line(Clock::time_point now);

  int fd_;
  std::chrono::milliseconds interval_;
  std::function<Clock::time_point()> now_;
  std::function<std::chrono::system_clock::time_point()> wall_;
  bool in_stage_ = false;
  bool wrote_ = false;
  bool broken_ = false;
  StageFigures stage_;
  Clock::time_point last_line_;
};

}  // namespace tilvane
