#include "census/common_multiples.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <vector>

#include "base/checked_math.h"

namespace tilvane {
namespace {

// lcm(a, b), or nothing when it exceeds bound (or 64 bits).
std::optional<std::uint64_t> lcm_within(std::uint64_t a, std::uint64_t b, std::uint64_t bound) {
  auto product = checked_lcm(a, b);
  if (!product || *product > bound) return std::nullopt;
  return product;
}

// The walk over increasing sets whose least common multiple stays within
// max_lcm. For a prefix with multiple lcm, the values that may follow are
// those a >= 2 with lcm(lcm, a) <= max_lcm; they depend only on lcm, so each
// such list is computed once, on first use, and shared by every prefix with
// that multiple.
class CommonMultipleWalk {
 public:
  CommonMultipleWalk(std::size_t k, std::uint64_t max_lcm) : k_(k), max_lcm_(max_lcm) {
    prefix_.reserve(k);
  }

  ModuliSetList run() {
    if (max_lcm_ >= 1) rec(2, 1);  // for max_lcm = 0 not even the empty set qualifies
    return std::move(out_);
  }

 private:
  // Extends the prefix, whose least common multiple is lcm, by values from
  // start on. The multiple never shrinks as values are added, so a value that
  // pushes it beyond the bound has no completion and is skipped. Values are
  // tried in increasing order at every level, so the sets come out in
  // lexicographic order, each exactly once.
  void rec(std::uint64_t start, std::uint64_t lcm) {
    if (prefix_.size() == k_) {
      out_.push_back(prefix_);
      return;
    }
    const std::vector<std::uint64_t>& next = admissible(lcm);
    for (auto it = std::lower_bound(next.begin(), next.end(), start); it != next.end(); ++it) {
      prefix_.push_back(*it);
      rec(*it + 1, *lcm_within(lcm, *it, max_lcm_));
      prefix_.pop_back();
    }
  }

  // The values a >= 2, in increasing order, with lcm(lcm, a) <= max_lcm.
  // Every such a divides a multiple within the bound, so none exceeds it.
  const std::vector<std::uint64_t>& admissible(std::uint64_t lcm) {
    auto [entry, inserted] = admissible_.try_emplace(lcm);
    if (inserted) {
      for (std::uint64_t a = 2; a <= max_lcm_; ++a) {
        if (lcm_within(lcm, a, max_lcm_)) entry->second.push_back(a);
        if (a == max_lcm_) break;  // max_lcm may be 2^64 - 1
      }
    }
    return entry->second;
  }

  std::size_t k_;
  std::uint64_t max_lcm_;
  ModuliSet prefix_;
  ModuliSetList out_;
  std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> admissible_;
};

}  // namespace

// The defining construction collects, for every N up to max_lcm, every
// k-element selection of the divisors of N that are at least 2, and keeps the
// distinct ones in lexicographic order. A set arises there exactly when its
// least common multiple is at most max_lcm (at N = its multiple, and at every
// multiple of that up to the bound), so the result is the list of all
// k-element sets of integers >= 2 whose least common multiple is at most
// max_lcm, in lexicographic order. This generates that list directly by a
// depth-first walk in lexicographic order, without repeats to drop.
ModuliSetList candidates_via_common_multiples(std::size_t k, std::uint64_t max_lcm) {
  return CommonMultipleWalk(k, max_lcm).run();
}

}  // namespace tilvane
