#include "cli/log_progress.h"

#include <ctime>
#include <utility>

#include "base/text_format.h"
#include "cli/checked_output.h"

namespace tilvane {
namespace {

// "2026-12-09T15:03:07Z".
std::string utc_timestamp(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace

LogProgress::LogProgress(int fd, std::chrono::milliseconds interval,
                         std::function<Clock::time_point()> now,
                         std::function<std::chrono::system_clock::time_point()> wall)
    : fd_(fd), interval_(interval), now_(std::move(now)), wall_(std::move(wall)) {}

LogProgress::~LogProgress() { finished(); }

void LogProgress::started(std::string_view label, std::uint64_t total, std::uint64_t already) {
  in_stage_ = true;
  wrote_ = false;
  last_line_ = now_();
  stage_.start(label, total, already, last_line_);
}

void LogProgress::advanced(std::uint64_t done) {
  if (!in_stage_) return;
  stage_.advance(done);
  const Clock::time_point now = now_();
  if (now - last_line_ >= interval_) write_line(now);
}

void LogProgress::finished() {
  if (in_stage_ && wrote_) write_line(now_());
  in_stage_ = false;
}

void LogProgress::write_line(Clock::time_point now) {
  last_line_ = now;
  wrote_ = true;
  if (broken_) return;
  const ProgressFigures figures = stage_.at(now);
  const std::string line = cat(utc_timestamp(wall_()), " ", progress_line(figures), ", ",
                               clock_duration(figures.elapsed), " elapsed\n");
  if (write_all(fd_, line) != 0) broken_ = true;
}

}  // namespace tilvane
