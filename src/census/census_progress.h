// How a census tells an onlooker how far it has come: the number of
// candidates decided out of the number to decide. What the onlooker does with
// it (draw a line on a terminal, nothing at all) is its own affair; progress
// never reaches the report and never changes a figure.
#pragma once

#include <cstdint>
#include <string_view>

namespace tilvane {

// Receives the progress of a census, always on the thread that runs the
// census. A census reports in stages (one per size for the small census, one
// for every other mode): started, any number of advanced, finished.
class CensusProgress {
 public:
  virtual ~CensusProgress() = default;

  // A stage begins: total candidates to decide, named by label (e.g. "k=9"),
  // of which already were decided before (by the earlier runs of a census
  // that resumes), so that the rate and the time left count only this run.
  virtual void started(std::string_view label, std::uint64_t total, std::uint64_t already) = 0;
  // done of the stage's total are decided so far (already included); done
  // never decreases within a stage. Calls may come as often as every
  // candidate.
  virtual void advanced(std::uint64_t done) = 0;
  // The census has found this many sets so far; a progress may show it.
  virtual void found(std::uint64_t sets) { (void)sets; }
  // The stage is over, finished or abandoned. Whatever the progress showed
  // is gone when this returns, so the census can write its report next.
  // Calling it again, or without a stage, does nothing.
  virtual void finished() = 0;
};

// A progress that ignores everything: what a census reports to when nobody
// watches.
CensusProgress& no_progress();

// One stage of a progress for the extent of a scope: started on
// construction, finished on finish() or at the latest on destruction, so
// every way out of a census (an error text included) leaves nothing shown.
class ProgressStage {
 public:
  ProgressStage(CensusProgress& progress, std::string_view label, std::uint64_t total,
                std::uint64_t already = 0)
      : progress_(progress) {
    progress_.started(label, total, already);
  }
  ProgressStage(const ProgressStage&) = delete;
  ProgressStage& operator=(const ProgressStage&) = delete;
  ~ProgressStage() { finish(); }

  void advanced(std::uint64_t done) { progress_.advanced(done); }
  // Ends the stage now, before the report is written.
  void finish() {
    if (open_) progress_.finished();
    open_ = false;
  }

 private:
  CensusProgress& progress_;
  bool open_ = true;
};

}  // namespace tilvane
