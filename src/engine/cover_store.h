// Sets known to cover, and the candidates they settle. If a set R covers,
// every set S with R as a subset covers (give the moduli of S outside R any
// residues), and when R = S less one modulus, S is also reducible: one of
// its one-modulus deletions covers. So a candidate S that has a stored set
// among its |S| one-modulus deletions is a reducible covering set, settled
// by |S| exact lookups with no search at all.
//
// What goes in: the deletions a search has shown to cover, and, for a
// confirmed cover of S with a redundant class r (mod m) (redundant_class.h),
// the set S less m, which the other classes cover. Nothing else does: a set
// is stored only once a cover of it is known. The sets live in the bounded
// table of the dominance store (dominance_store.h), keyed the same way, so a
// miss only costs a search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/dominance_store.h"

namespace tilvane {

class CoverStore {
 public:
  static constexpr std::size_t kDefaultBytes = std::size_t{16} << 20;

  explicit CoverStore(std::size_t byte_budget = kDefaultBytes) : sets_(byte_budget) {}

  // Records that the set (moduli in strictly increasing order) covers.
  void insert(std::span<const std::uint64_t> set) { sets_.insert(set); }
  bool contains(std::span<const std::uint64_t> set) const { return sets_.contains(set); }

  // The index i of a modulus of the set (strictly increasing) whose
  // deletion is stored as covering; nothing when none is.
  std::optional<std::size_t> covering_deletion(std::span<const std::uint64_t> set) const;

  std::size_t entries() const { return sets_.entries(); }

 private:
  DominanceStore sets_;  // its exact table only; the sets here do cover
};

}  // namespace tilvane
