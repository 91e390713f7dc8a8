// When a run writes its next checkpoint. A checkpoint holds every set found
// so far, so writing one grows dearer as the run goes on: at k = 14 a part
// finds millions of sets, and copying, rendering and writing them takes
// seconds, during which a single process's workers wait for the copy and a
// cluster's coordinator answers no rank. The pacer keeps the interval the
// user asked for while checkpoints are cheap, and spaces them further apart
// once they are not, so that writing them takes at most about one fiftieth
// of the run.
#pragma once

#include <chrono>

namespace tilvane {

class CheckpointPacer {
 public:
  using Clock = std::chrono::steady_clock;

  // The first checkpoint is due one interval after now.
  CheckpointPacer(Clock::duration interval, Clock::time_point now);

  bool due(Clock::time_point now) const { return now >= next_; }

  // Notes a checkpoint whose writing began and ended at these times: the
  // next is due an interval after its end, or 49 times its cost after its
  // end when that is later.
  void saved(Clock::time_point began, Clock::time_point ended);

 private:
  Clock::duration interval_;
  Clock::time_point next_;
};

}  // namespace tilvane
