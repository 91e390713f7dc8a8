#include "census/work_list.h"

#include <algorithm>

#include "base/text_format.h"
#include "census/space_stream.h"

namespace tilvane {
namespace {

// Runs of `length` consecutive candidates of a space, run j starting at
// index j * gap; every sample-th candidate is runs of one with gap sample.
// The reader walks forwards to the next index when it is near and seeks
// when it is far.
class SpaceReader final : public WorkReader {
 public:
  SpaceReader(SpaceCursor cursor, std::uint64_t gap, std::uint64_t length, std::uint64_t position,
              std::uint64_t count)
      : cursor_(std::move(cursor)),
        gap_(gap),
        length_(length),
        position_(position),
        count_(count) {}

  bool next(ModuliSet& out) override {
    if (position_ == count_) return false;
    const std::uint64_t index = position_ / length_ * gap_ + position_ % length_;
    if (index - cursor_.index() > kWalkLimit) {
      if (!cursor_.seek(index)) return false;
    }
    while (cursor_.index() < index) {
      if (!cursor_.next(out)) return false;
    }
    if (!cursor_.next(out)) return false;
    ++position_;
    return true;
  }

 private:
  static constexpr std::uint64_t kWalkLimit = 64;
  SpaceCursor cursor_;
  std::uint64_t gap_;
  std::uint64_t length_;
  std::uint64_t position_;
  std::uint64_t count_;
};

class SpaceWork final : public WorkList {
 public:
  SpaceWork(SpaceCursor cursor, std::uint64_t gap, std::uint64_t length, std::uint64_t count)
      : cursor_(std::move(cursor)), gap_(gap), length_(length), count_(count) {}

  std::uint64_t count() const override { return count_; }

  Result<std::unique_ptr<WorkReader>> read_from(std::uint64_t position) const override {
    if (position > count_) {
      return fail(cat("work position ", position, " is beyond the ", count_, " candidates"));
    }
    return std::unique_ptr<WorkReader>(
        std::make_unique<SpaceReader>(cursor_, gap_, length_, position, count_));
  }

 private:
  SpaceCursor cursor_;
  std::uint64_t gap_;
  std::uint64_t length_;
  std::uint64_t count_;
};

class SetReader final : public WorkReader {
 public:
  explicit SetReader(std::span<const ModuliSet> rest) : rest_(rest) {}
  bool next(ModuliSet& out) override {
    if (rest_.empty()) return false;
    out = rest_.front();
    rest_ = rest_.subspan(1);
    return true;
  }

 private:
  std::span<const ModuliSet> rest_;
};

class SetWork final : public WorkList {
 public:
  explicit SetWork(std::span<const ModuliSet> sets) : sets_(sets) {}
  std::uint64_t count() const override { return sets_.size(); }
  Result<std::unique_ptr<WorkReader>> read_from(std::uint64_t position) const override {
    if (position > sets_.size()) {
      return fail(cat("work position ", position, " is beyond the ", sets_.size(), " candidates"));
    }
    return std::unique_ptr<WorkReader>(
        std::make_unique<SetReader>(sets_.subspan(static_cast<std::size_t>(position))));
  }

 private:
  std::span<const ModuliSet> sets_;
};

}  // namespace

Result<std::unique_ptr<WorkList>> space_work(const CensusSpace& space, std::uint64_t sample) {
  auto cursor = SpaceCursor::open(space);
  if (!cursor) return std::move(cursor).take_error();
  const std::uint64_t gap = std::max<std::uint64_t>(sample, 1);
  const std::uint64_t all = cursor->count();
  const std::uint64_t count = all == 0 ? 0 : (all - 1) / gap + 1;
  return std::unique_ptr<WorkList>(std::make_unique<SpaceWork>(std::move(*cursor), gap, 1, count));
}

Result<std::unique_ptr<WorkList>> space_runs_work(const CensusSpace& space, std::uint64_t runs,
                                                  std::uint64_t run_length) {
  auto cursor = SpaceCursor::open(space);
  if (!cursor) return std::move(cursor).take_error();
  const std::uint64_t all = cursor->count();
  if (runs == 0 || run_length == 0 || all / runs <= run_length) {
    return std::unique_ptr<WorkList>(std::make_unique<SpaceWork>(std::move(*cursor), 1, 1, all));
  }
  return std::unique_ptr<WorkList>(
      std::make_unique<SpaceWork>(std::move(*cursor), all / runs, run_length, runs * run_length));
}

std::unique_ptr<WorkList> set_work(std::span<const ModuliSet> sets) {
  return std::make_unique<SetWork>(sets);
}

}  // namespace tilvane
