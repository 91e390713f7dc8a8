#include "census/work_list.h"

#include <algorithm>
#include <bit>

#include "base/text_format.h"
#include "base/uint128.h"
#include "census/space_stream.h"

namespace tilvane {
namespace {

// Runs of `length` consecutive candidates of a space, the j-th run of the
// list starting at index order(j) * gap; every sample-th candidate is runs
// of one with gap sample, in order. The reader walks forwards to the next
// index when it is near and seeks when it is far (or behind).
class SpaceReader final : public WorkReader {
 public:
  SpaceReader(SpaceCursor cursor, std::uint64_t gap, std::uint64_t length, unsigned order_bits,
              std::uint64_t position, std::uint64_t count)
      : cursor_(std::move(cursor)),
        gap_(gap),
        length_(length),
        order_bits_(order_bits),
        position_(position),
        count_(count) {}

  bool next(ModuliSet& out) override {
    if (position_ == count_) return false;
    const std::uint64_t index = run_order(position_ / length_) * gap_ + position_ % length_;
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

  // The place of the j-th run in the space: j, or j with its order_bits
  // low bits reversed.
  std::uint64_t run_order(std::uint64_t j) const {
    if (order_bits_ == 0) return j;
    std::uint64_t reversed = 0;
    for (unsigned b = 0; b < order_bits_; ++b) reversed |= ((j >> b) & 1) << (order_bits_ - 1 - b);
    return reversed;
  }

  SpaceCursor cursor_;
  std::uint64_t gap_;
  std::uint64_t length_;
  unsigned order_bits_;
  std::uint64_t position_;
  std::uint64_t count_;
};

class SpaceWork final : public WorkList {
 public:
  SpaceWork(SpaceCursor cursor, std::uint64_t gap, std::uint64_t length, unsigned order_bits,
            std::uint64_t count)
      : cursor_(std::move(cursor)),
        gap_(gap),
        length_(length),
        order_bits_(order_bits),
        count_(count) {}

  std::uint64_t count() const override { return count_; }

  Result<std::unique_ptr<WorkReader>> read_from(std::uint64_t position) const override {
    if (position > count_) {
      return fail(cat("work position ", position, " is beyond the ", count_, " candidates"));
    }
    return std::unique_ptr<WorkReader>(
        std::make_unique<SpaceReader>(cursor_, gap_, length_, order_bits_, position, count_));
  }

 private:
  SpaceCursor cursor_;
  std::uint64_t gap_;
  std::uint64_t length_;
  unsigned order_bits_;
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

// A reader of the whole list that stops after `left` candidates.
class BoundedReader final : public WorkReader {
 public:
  BoundedReader(std::unique_ptr<WorkReader> whole, std::uint64_t left)
      : whole_(std::move(whole)), left_(left) {}
  bool next(ModuliSet& out) override {
    if (left_ == 0 || !whole_->next(out)) return false;
    --left_;
    return true;
  }

 private:
  std::unique_ptr<WorkReader> whole_;
  std::uint64_t left_;
};

class PartWork final : public WorkList {
 public:
  PartWork(std::unique_ptr<WorkList> whole, PartRange range)
      : whole_(std::move(whole)), range_(range) {}
  std::uint64_t count() const override { return range_.end - range_.begin; }
  Result<std::unique_ptr<WorkReader>> read_from(std::uint64_t position) const override {
    if (position > count()) {
      return fail(cat("work position ", position, " is beyond the ", count(), " candidates"));
    }
    auto reader = whole_->read_from(range_.begin + position);
    if (!reader) return std::move(reader).take_error();
    return std::unique_ptr<WorkReader>(
        std::make_unique<BoundedReader>(std::move(*reader), count() - position));
  }

 private:
  std::unique_ptr<WorkList> whole_;
  PartRange range_;
};

}  // namespace

PartRange part_range(std::uint64_t count, std::uint64_t part, std::uint64_t parts) {
  // floor(i * count / parts) for i = part - 1 and part, without overflow.
  const auto boundary = [&](std::uint64_t i) {
    return static_cast<std::uint64_t>(static_cast<u128>(i) * count / parts);
  };
  return {boundary(part - 1), boundary(part)};
}

std::unique_ptr<WorkList> part_work(std::unique_ptr<WorkList> whole, std::uint64_t part,
                                    std::uint64_t parts) {
  const PartRange range = part_range(whole->count(), part, parts);
  return std::make_unique<PartWork>(std::move(whole), range);
}

Result<std::unique_ptr<WorkList>> space_work(const CensusSpace& space, std::uint64_t sample) {
  auto cursor = SpaceCursor::open(space);
  if (!cursor) return std::move(cursor).take_error();
  const std::uint64_t gap = std::max<std::uint64_t>(sample, 1);
  const std::uint64_t all = cursor->count();
  const std::uint64_t count = all == 0 ? 0 : (all - 1) / gap + 1;
  return std::unique_ptr<WorkList>(
      std::make_unique<SpaceWork>(std::move(*cursor), gap, 1, 0, count));
}

Result<std::unique_ptr<WorkList>> space_runs_work(const CensusSpace& space, std::uint64_t runs,
                                                  std::uint64_t run_length) {
  auto cursor = SpaceCursor::open(space);
  if (!cursor) return std::move(cursor).take_error();
  const std::uint64_t all = cursor->count();
  if (runs == 0 || run_length == 0 || all / runs <= run_length) {
    return std::unique_ptr<WorkList>(std::make_unique<SpaceWork>(std::move(*cursor), 1, 1, 0, all));
  }
  const bool power_of_two = (runs & (runs - 1)) == 0;
  const auto order_bits = power_of_two ? static_cast<unsigned>(std::countr_zero(runs)) : 0u;
  return std::unique_ptr<WorkList>(std::make_unique<SpaceWork>(
      std::move(*cursor), all / runs, run_length, order_bits, runs * run_length));
}

std::unique_ptr<WorkList> set_work(std::span<const ModuliSet> sets) {
  return std::make_unique<SetWork>(sets);
}

}  // namespace tilvane
