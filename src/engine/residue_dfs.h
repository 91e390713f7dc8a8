// The depth-first search shared by the residue searches for periods above
// 1024, over a State that keeps the uncovered residues its own way. It
// visits exactly the nodes of the literal search, in the same order, with
// cheaper bookkeeping: the smallest uncovered residue is searched from the
// parent's (it never moves left going down), the capacity is carried down
// instead of summed, the gain of a class doubles as its number of newly
// covered residues, and children that end at once (nothing left uncovered,
// or capacity too small) are counted without being built. The candidate
// keys of all depths live in one vector allocated up front, and keep the
// index of a modulus in 8 bits: at most 254 moduli.
//
// State provides, for the residues still uncovered at a depth:
//   void cover_first()
//     depth 0 is the period without the class 0 of the first modulus;
//   std::uint64_t first_uncovered(std::size_t depth, std::uint64_t from) const
//     the smallest uncovered residue, at or right of from (there is one);
//   std::uint64_t gain(std::size_t depth, std::size_t j, std::uint64_t x) const
//     the uncovered residues in the class of x modulo modulus j, where x is
//     the smallest uncovered residue;
//   void cover(std::size_t depth, std::size_t j, std::uint64_t x)
//     depth + 1 becomes depth without that class;
//   void uncover(std::size_t depth, std::size_t j, std::uint64_t x)
//     undoes cover once the child's search has failed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/residue_search.h"

namespace tilvane {

template <class State>
class ResidueDfs {
 public:
  ResidueDfs(std::span<const std::uint64_t> moduli, std::uint64_t period, std::uint64_t max_nodes,
             State& state)
      : state_(state),
        moduli_(moduli.begin(), moduli.end()),
        max_nodes_(max_nodes),
        shares_(moduli.size()),
        residues_(moduli.size(), 0),
        assigned_(moduli.size(), 0),
        keys_(moduli.size() * moduli.size()) {
    for (std::size_t j = 0; j < moduli_.size(); ++j) shares_[j] = period / moduli_[j];
    uncovered_at_root_ = period - shares_[0];
  }

  // The root: modulus 0 is fixed at residue 0, the root node passes the
  // budget test, is counted, and is tested for success and capacity exactly
  // like any other node before its children are explored.
  CoverSearch run() {
    state_.cover_first();
    assigned_[0] = 1;
    std::uint64_t capacity = 0;
    for (std::size_t j = 1; j < moduli_.size(); ++j) capacity += shares_[j];

    CoverSearch result;
    if (max_nodes_ == 0) {
      result.outcome = SearchOutcome::BudgetExceeded;
    } else {
      nodes_ = 1;
      if (uncovered_at_root_ == 0) {
        result.outcome = SearchOutcome::Found;
      } else if (capacity < uncovered_at_root_) {
        result.outcome = SearchOutcome::NotFound;
      } else {
        result.outcome = explore(0, 0, uncovered_at_root_, capacity);
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
  // One inner node, already counted, with residues left uncovered and
  // enough capacity; from is a residue at or left of its first uncovered one.
  SearchOutcome explore(std::size_t depth, std::uint64_t from, std::uint64_t uncovered,
                        std::uint64_t capacity) {
    const std::uint64_t x = state_.first_uncovered(depth, from);

    // Key: gain descending, then index ascending; unique, so any sort keeps
    // the literal search's stable order.
    std::uint64_t* keys = keys_.data() + depth * moduli_.size();
    std::size_t count = 0;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (assigned_[j] != 0) continue;
      keys[count++] = state_.gain(depth, j, x) << 8 | (255 - j);
    }
    std::sort(keys, keys + count, std::greater<>());

    for (std::size_t c = 0; c < count; ++c) {
      if (nodes_ >= max_nodes_) return SearchOutcome::BudgetExceeded;
      ++nodes_;
      const std::size_t j = 255 - (keys[c] & 255);
      const std::uint64_t left = uncovered - (keys[c] >> 8);
      assigned_[j] = 1;
      residues_[j] = x % moduli_[j];
      if (left == 0) return SearchOutcome::Found;
      if (capacity - shares_[j] < left) {
        assigned_[j] = 0;
        continue;
      }
      state_.cover(depth, j, x);
      const SearchOutcome s = explore(depth + 1, x, left, capacity - shares_[j]);
      if (s == SearchOutcome::Found) return s;
      state_.uncover(depth, j, x);
      assigned_[j] = 0;
      if (s == SearchOutcome::BudgetExceeded) return s;
    }
    return SearchOutcome::NotFound;
  }

  State& state_;
  std::vector<std::uint64_t> moduli_;
  std::uint64_t max_nodes_;
  std::uint64_t nodes_ = 0;
  std::uint64_t uncovered_at_root_ = 0;
  std::vector<std::uint64_t> shares_;
  std::vector<std::uint64_t> residues_;
  std::vector<std::uint8_t> assigned_;
  std::vector<std::uint64_t> keys_;
};

}  // namespace tilvane
