#include "engine/counter_search.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/search_abort.h"

namespace tilvane {
namespace {

// covered[i] counts the assigned congruences that contain residue i; a
// counter never exceeds the number of moduli, below 255. Assignments are
// undone on the way back except along a successful path, as in the literal
// search, but the smallest uncovered residue is searched from the parent's
// (it never moves left going down), the capacity is carried down instead of
// summed, the gain of a class doubles as its number of newly covered
// residues, and children that end at once are counted without a call. The
// candidate keys of all depths live in one vector allocated up front.
class CounterDfs {
 public:
  CounterDfs(std::span<const std::uint64_t> moduli, std::uint64_t period, std::uint64_t max_nodes)
      : moduli_(moduli.begin(), moduli.end()),
        period_(period),
        max_nodes_(max_nodes),
        covered_(period, 0),
        shares_(moduli.size()),
        residues_(moduli.size(), 0),
        assigned_(moduli.size(), 0),
        keys_(moduli.size() * moduli.size()) {
    for (std::size_t j = 0; j < moduli_.size(); ++j) shares_[j] = period_ / moduli_[j];
  }

  CoverSearch run() {
    assigned_[0] = 1;
    for (std::uint64_t i = 0; i < period_; i += moduli_[0]) covered_[i] = 1;
    const std::uint64_t uncovered = period_ - shares_[0];
    std::uint64_t capacity = 0;
    for (std::size_t j = 1; j < moduli_.size(); ++j) capacity += shares_[j];

    CoverSearch result;
    if (max_nodes_ == 0) {
      result.outcome = SearchOutcome::BudgetExceeded;
    } else {
      nodes_ = 1;
      if (uncovered == 0) {
        result.outcome = SearchOutcome::Found;
      } else if (capacity < uncovered) {
        result.outcome = SearchOutcome::NotFound;
      } else {
        result.outcome = explore(0, 0, uncovered, capacity);
      }
    }
    result.nodes = nodes_;
    if (result.outcome == SearchOutcome::Found) {
      result.residues.resize(moduli_.size());
      for (std::size_t j = 0; j < moduli_.size(); ++j) {
        result.residues[j] = assigned_[j] != 0 ? residues_[j] : 0;
      }
    }
    return result;
  }

 private:
  std::uint64_t class_gain(std::uint64_t r, std::uint64_t m) const {
    std::uint64_t gain = 0;
    for (std::uint64_t i = r; i < period_; i += m) gain += covered_[i] == 0 ? 1 : 0;
    return gain;
  }

  void add_class(std::uint64_t r, std::uint64_t m, int delta) {
    const auto step = static_cast<std::uint8_t>(delta);
    for (std::uint64_t i = r; i < period_; i += m) {
      covered_[i] = static_cast<std::uint8_t>(covered_[i] + step);
    }
  }

  // One inner node, already counted, with residues left uncovered and
  // enough capacity; from is a residue at or left of its first uncovered one.
  SearchOutcome explore(std::size_t depth, std::uint64_t from, std::uint64_t uncovered,
                        std::uint64_t capacity) {
    const void* zero = std::memchr(covered_.data() + from, 0, period_ - from);
    if (zero == nullptr) search_abort("uncovered count and counters disagree");
    const auto x =
        static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(zero) - covered_.data());

    // Key: gain descending, then index ascending; unique, so any sort keeps
    // the literal search's stable order.
    std::uint64_t* keys = keys_.data() + depth * moduli_.size();
    std::size_t count = 0;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (assigned_[j] != 0) continue;
      const std::uint64_t gain = class_gain(x % moduli_[j], moduli_[j]);
      keys[count++] = gain << 8 | (255 - j);
    }
    std::sort(keys, keys + count, std::greater<>());

    for (std::size_t c = 0; c < count; ++c) {
      if (nodes_ >= max_nodes_) return SearchOutcome::BudgetExceeded;
      ++nodes_;
      const std::size_t j = 255 - (keys[c] & 255);
      const std::uint64_t m = moduli_[j];
      const std::uint64_t r = x % m;
      const std::uint64_t left = uncovered - (keys[c] >> 8);
      if (left == 0) {
        assigned_[j] = 1;
        residues_[j] = r;
        return SearchOutcome::Found;
      }
      if (capacity - shares_[j] < left) continue;
      assigned_[j] = 1;
      residues_[j] = r;
      add_class(r, m, 1);
      const SearchOutcome s = explore(depth + 1, x, left, capacity - shares_[j]);
      if (s == SearchOutcome::Found) return s;
      add_class(r, m, -1);
      assigned_[j] = 0;
      if (s == SearchOutcome::BudgetExceeded) return s;
    }
    return SearchOutcome::NotFound;
  }

  std::vector<std::uint64_t> moduli_;
  std::uint64_t period_;
  std::uint64_t max_nodes_;
  std::uint64_t nodes_ = 0;
  std::vector<std::uint8_t> covered_;
  std::vector<std::uint64_t> shares_;
  std::vector<std::uint64_t> residues_;
  std::vector<std::uint8_t> assigned_;
  std::vector<std::uint64_t> keys_;
};

}  // namespace

CoverSearch counter_search(std::span<const std::uint64_t> moduli, std::uint64_t period,
                           std::uint64_t max_nodes) {
  CounterDfs dfs(moduli, period, max_nodes);
  return dfs.run();
}

}  // namespace tilvane
