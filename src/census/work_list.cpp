#include "census/work_list.h"

#include "base/text_format.h"
#include "census/space_stream.h"

namespace tilvane {
namespace {

class SpaceReader final : public WorkReader {
 public:
  SpaceReader(SpaceCursor cursor, std::uint64_t sample, std::uint64_t left)
      : cursor_(std::move(cursor)), sample_(sample), left_(left) {}

  // Candidates between two sampled ones are stepped over, or sought past
  // when the stride is long.
  bool next(ModuliSet& out) override {
    if (left_ == 0) return false;
    if (!first_) {
      if (sample_ > kWalkLimit) {
        if (!cursor_.seek(cursor_.index() + sample_ - 1)) return false;
      } else {
        for (std::uint64_t i = 1; i < sample_; ++i) {
          if (!cursor_.next(skipped_)) return false;
        }
      }
    }
    first_ = false;
    if (!cursor_.next(out)) return false;
    --left_;
    return true;
  }

 private:
  static constexpr std::uint64_t kWalkLimit = 64;
  SpaceCursor cursor_;
  std::uint64_t sample_;
  std::uint64_t left_;
  bool first_ = true;
  ModuliSet skipped_;
};

class SpaceWork final : public WorkList {
 public:
  SpaceWork(SpaceCursor cursor, std::uint64_t sample)
      : cursor_(std::move(cursor)),
        sample_(sample),
        count_(cursor_.count() == 0 ? 0 : (cursor_.count() - 1) / sample + 1) {}

  std::uint64_t count() const override { return count_; }

  Result<std::unique_ptr<WorkReader>> read_from(std::uint64_t position) const override {
    if (position > count_) {
      return fail(cat("work position ", position, " is beyond the ", count_, " candidates"));
    }
    SpaceCursor cursor = cursor_;
    const std::uint64_t index = position == count_ ? cursor.count() : position * sample_;
    if (auto sought = cursor.seek(index); !sought) return std::move(sought).take_error();
    return std::unique_ptr<WorkReader>(
        std::make_unique<SpaceReader>(std::move(cursor), sample_, count_ - position));
  }

 private:
  SpaceCursor cursor_;
  std::uint64_t sample_;
  std::uint64_t count_;
};

// Runs of consecutive candidates: run j starts at index j * gap.
class RunsReader final : public WorkReader {
 public:
  RunsReader(SpaceCursor cursor, std::uint64_t gap, std::uint64_t length, std::uint64_t position,
             std::uint64_t count)
      : cursor_(std::move(cursor)),
        gap_(gap),
        length_(length),
        position_(position),
        count_(count) {}

  bool next(ModuliSet& out) override {
    if (position_ == count_) return false;
    const std::uint64_t index = position_ / length_ * gap_ + position_ % length_;
    if (cursor_.index() != index && !cursor_.seek(index)) return false;
    if (!cursor_.next(out)) return false;
    ++position_;
    return true;
  }

 private:
  SpaceCursor cursor_;
  std::uint64_t gap_;
  std::uint64_t length_;
  std::uint64_t position_;
  std::uint64_t count_;
};

class RunsWork final : public WorkList {
 public:
  RunsWork(SpaceCursor cursor, std::uint64_t runs, std::uint64_t length)
      : cursor_(std::move(cursor)) {
    const std::uint64_t all = cursor_.count();
    if (runs == 0 || length == 0 || all / runs <= length) {
      gap_ = length_ = std::max<std::uint64_t>(all, 1);
      count_ = all;
    } else {
      gap_ = all / runs;
      length_ = length;
      count_ = runs * length;
    }
  }

  std::uint64_t count() const override { return count_; }

  Result<std::unique_ptr<WorkReader>> read_from(std::uint64_t position) const override {
    if (position > count_) {
      return fail(cat("work position ", position, " is beyond the ", count_, " candidates"));
    }
    return std::unique_ptr<WorkReader>(
        std::make_unique<RunsReader>(cursor_, gap_, length_, position, count_));
  }

 private:
  SpaceCursor cursor_;
  std::uint64_t gap_ = 1;
  std::uint64_t length_ = 1;
  std::uint64_t count_ = 0;
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
  return std::unique_ptr<WorkList>(
      std::make_unique<SpaceWork>(std::move(*cursor), std::max<std::uint64_t>(sample, 1)));
}

Result<std::unique_ptr<WorkList>> space_runs_work(const CensusSpace& space, std::uint64_t runs,
                                                  std::uint64_t run_length) {
  auto cursor = SpaceCursor::open(space);
  if (!cursor) return std::move(cursor).take_error();
  return std::unique_ptr<WorkList>(
      std::make_unique<RunsWork>(std::move(*cursor), runs, run_length));
}

std::unique_ptr<WorkList> set_work(std::span<const ModuliSet> sets) {
  return std::make_unique<SetWork>(sets);
}

}  // namespace tilvane
