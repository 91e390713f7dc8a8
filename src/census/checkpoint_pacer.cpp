#include "census/checkpoint_pacer.h"

#include <algorithm>

namespace tilvane {

namespace {

// A checkpoint that took t is followed by at least 49 t of work, so that
// checkpoints take at most 1/50 of the time.
constexpr int kWorkPerSave = 49;

}  // namespace

CheckpointPacer::CheckpointPacer(Clock::duration interval, Clock::time_point now)
    : interval_(interval), next_(now + interval) {}

void CheckpointPacer::saved(Clock::time_point began, Clock::time_point ended) {
  const Clock::duration cost = std::max(ended - began, Clock::duration::zero());
  next_ = ended + std::max(interval_, kWorkPerSave * cost);
}

}  // namespace tilvane
