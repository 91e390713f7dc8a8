// The progress of a census as one line on a terminal, rewritten in place a
// few times a second and erased when the census is done with it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "census/census_progress.h"

namespace tilvane {

// Where a stage stands: done of total decided, already of them before this
// run, found sets found so far (when the census says), after elapsed of
// this run.
struct ProgressFigures {
  std::string_view label;
  std::uint64_t done = 0;
  std::uint64_t total = 0;
  std::uint64_t already = 0;
  std::optional<std::uint64_t> found;
  std::chrono::steady_clock::duration elapsed{};
};

// The text of the progress line, without any control characters:
// "k=11: 12345/343875 candidates decided, 155.6/s, about 35:31 left", with
// ", 1234 sets found" after "decided" when the sets found are known. The
// rate and the time left count this run's candidates only, and are left out
// while it has decided none.
std::string progress_line(const ProgressFigures& figures);

// A length of time as "M:SS" below an hour and "H:MM:SS" from an hour on,
// whole seconds rounded up.
std::string clock_duration(std::chrono::steady_clock::duration length);

// What a progress display keeps of the stage under way.
class StageFigures {
 public:
  using Clock = std::chrono::steady_clock;
  void start(std::string_view label, std::uint64_t total, std::uint64_t already,
             Clock::time_point now);
  void advance(std::uint64_t done) { done_ = done; }
  void set_found(std::uint64_t sets) { found_ = sets; }
  bool empty() const { return total_ == already_; }
  Clock::time_point started() const { return start_; }
  ProgressFigures at(Clock::time_point now) const {
    return {label_, done_, total_, already_, found_, now - start_};
  }

 private:
  std::string label_;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  std::uint64_t already_ = 0;
  std::optional<std::uint64_t> found_;
  Clock::time_point start_;
};

// Draws the progress on the terminal at fd: each drawing returns to the
// start of the line, writes the line and erases the rest of the old one;
// finishing erases the whole line and leaves the cursor at its start. The
// line is drawn when a stage with candidates starts, unless the last drawing
// was less than redraw_interval ago, and then at most once every
// redraw_interval; it is cut to the terminal's width so that it never wraps.
// A failed write is not an error of the census: the progress then stays
// silent.
class TerminalProgress final : public CensusProgress {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds redraw_interval{250};

  // now tells the time; tests pass their own clock.
  explicit TerminalProgress(int fd, std::function<Clock::time_point()> now = Clock::now);
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;
  ~TerminalProgress() override;

  void started(std::string_view label, std::uint64_t total, std::uint64_t already) override;
  void advanced(std::uint64_t done) override;
  void found(std::uint64_t sets) override { stage_.set_found(sets); }
  void finished() override;

 private:
  void draw(Clock::time_point now);
  void write(const std::string& text);

  int fd_;
  std::function<Clock::time_point()> now_;
  bool in_stage_ = false;
  bool shown_ = false;
  bool broken_ = false;
  StageFigures stage_;
  std::optional<Clock::time_point> last_draw_;
};

}  // namespace tilvane
