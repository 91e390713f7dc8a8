#include "cli/terminal_progress.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "base/text_format.h"
#include "base/uint128.h"
#include "cli/checked_output.h"

namespace tilvane {
namespace {

constexpr std::string_view kReturnToStart = "\r";
constexpr std::string_view kEraseToEnd = "\x1b[K";

// The width of the terminal at fd in columns, or nothing when it does not
// say.
std::optional<std::size_t> terminal_columns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return std::nullopt;
  return size.ws_col;
}

std::string two_digits(std::uint64_t value) { return cat(value < 10 ? "0" : "", value); }

}  // namespace

std::string clock_duration(std::chrono::steady_clock::duration length) {
  using std::chrono::seconds;
  if (length < std::chrono::steady_clock::duration::zero()) length = {};
  const auto total = static_cast<std::uint64_t>(std::chrono::ceil<seconds>(length).count());
  const std::uint64_t hours = total / 3600;
  const std::uint64_t minutes = total / 60 % 60;
  const std::uint64_t secs = total % 60;
  if (hours == 0) return cat(minutes, ":", two_digits(secs));
  return cat(hours, ":", two_digits(minutes), ":", two_digits(secs));
}

// The rate is the stage's average so far, so the estimate settles as the
// stage goes on instead of jumping with every short or long candidate; the
// time left assumes the rest goes at the same rate. It is worked out as
// elapsed * (total - done) / (done - already) in whole clock ticks, rounded
// up, since a floating quotient a hair above a whole second would show the
// next one.
std::string progress_line(const ProgressFigures& f) {
  using Duration = std::chrono::steady_clock::duration;
  std::string line = cat(f.label, ": ", f.done, "/", f.total, " candidates decided");
  if (f.found) line += cat(", ", *f.found, *f.found == 1 ? " set" : " sets", " found");
  if (f.done <= f.already || f.elapsed <= Duration::zero()) return line;
  const std::uint64_t now_done = f.done - f.already;
  const double seconds = std::chrono::duration<double>(f.elapsed).count();
  line += cat(", ", decimal_places(static_cast<double>(now_done) / seconds, 1), "/s");
  if (f.done > f.total) return line;
  const u128 ticks = static_cast<u128>(f.elapsed.count());
  const u128 left = (ticks * (f.total - f.done) + (now_done - 1)) / now_done;
  const u128 longest = static_cast<u128>(std::numeric_limits<Duration::rep>::max());
  const auto left_ticks = static_cast<Duration::rep>(std::min(left, longest));
  line += cat(", about ", clock_duration(Duration(left_ticks)), " left");
  return line;
}

TerminalProgress::TerminalProgress(int fd, std::function<Clock::time_point()> now)
    : fd_(fd), now_(std::move(now)) {}

TerminalProgress::~TerminalProgress() { finished(); }

void StageFigures::start(std::string_view label, std::uint64_t total, std::uint64_t already,
                         Clock::time_point now) {
  label_ = label;
  total_ = total;
  done_ = already;
  already_ = already;
  found_.reset();
  start_ = now;
}

void TerminalProgress::started(std::string_view label, std::uint64_t total, std::uint64_t already) {
  in_stage_ = true;
  const Clock::time_point now = now_();
  stage_.start(label, total, already, now);
  // A stage with nothing to decide is over before anyone could read it.
  if (stage_.empty()) return;
  if (!last_draw_ || now - *last_draw_ >= redraw_interval) draw(now);
}

void TerminalProgress::advanced(std::uint64_t done) {
  if (!in_stage_) return;
  stage_.advance(done);
  const Clock::time_point now = now_();
  if (!last_draw_ || now - *last_draw_ >= redraw_interval) draw(now);
}

void TerminalProgress::finished() {
  in_stage_ = false;
  if (!shown_) return;
  write(cat(kReturnToStart, kEraseToEnd));
  shown_ = false;
}

void TerminalProgress::draw(Clock::time_point now) {
  last_draw_ = now;
  std::string line = progress_line(stage_.at(now));
  // A line as wide as the terminal would leave the cursor waiting to wrap;
  // one column less keeps the return to the start on this line.
  if (const auto columns = terminal_columns(fd_); columns && line.size() >= *columns) {
    line.resize(*columns - 1);
  }
  write(cat(kReturnToStart, line, kEraseToEnd));
  shown_ = true;
}

void TerminalProgress::write(const std::string& text) {
  if (broken_) return;
  if (write_all(fd_, text) != 0) broken_ = true;
}

}  // namespace tilvane
