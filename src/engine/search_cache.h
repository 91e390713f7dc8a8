// A table of residue-search results shared by the census searches. Within
// one census many deletion searches repeat: different candidates lose a
// modulus and leave the same moduli set, searched with the same budget. A
// search result is a function of the moduli and the budget alone, so a
// result found in the table is exactly the one the search would return, and
// nothing reported can depend on which worker searched first or on timing.
//
// The table is fixed in size (32 bytes per slot) and takes no lock: a slot
// goes from empty to being written (claimed by one writer with a
// compare-and-swap) to ready (published with a release store). A reader
// acquires the state and reads only ready slots; a slot still being written
// is passed over, and a reader that does not find its set simply searches.
// Slots are never emptied or overwritten; when the probe window of a set is
// full the result is not stored.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "engine/residue_search.h"

namespace tilvane {

// What the census needs of a search: the outcome without its residues, and
// the node count.
struct CachedSearch {
  SearchOutcome outcome = SearchOutcome::NotFound;
  std::uint64_t nodes = 0;
  friend bool operator==(const CachedSearch&, const CachedSearch&) = default;
};

class SearchCache {
 public:
  // Sets of at most this many moduli, each below 65536, can be stored.
  static constexpr std::size_t kMaxModuli = 10;
  // Results of searches with fewer nodes are cheaper to repeat than to keep.
  static constexpr std::uint64_t kMinNodes = 64;
  // 2^22 slots: 128 MiB, room for the repeated deletion searches of the
  // k = 11 census.
  static constexpr std::size_t kDefaultSlots = std::size_t{1} << 22;

  // A table for searches with the budget max_nodes, of slot_count slots
  // (rounded up to a power of two, at least 64), 32 bytes each.
  explicit SearchCache(std::uint64_t max_nodes, std::size_t slot_count = kDefaultSlots);
  ~SearchCache();
  SearchCache(const SearchCache&) = delete;
  SearchCache& operator=(const SearchCache&) = delete;

  std::uint64_t max_nodes() const { return max_nodes_; }
  std::size_t slot_count() const { return mask_ + 1; }
  std::size_t memory_bytes() const;

  // The stored result of searching these moduli (in this order) with the
  // table's budget, if there is one.
  std::optional<CachedSearch> find(std::span<const std::uint64_t> moduli) const;

  // Stores the result of searching these moduli with the table's budget. It
  // may be dropped: too few nodes, a set the slots cannot hold, or no free
  // slot in its probe window.
  void insert(std::span<const std::uint64_t> moduli, const CachedSearch& result);

  // Slots holding a result (counted slot by slot; for reports and tests).
  std::size_t stored() const;

 private:
  struct Slot;
  struct Key;

  std::uint64_t max_nodes_;
  std::size_t mask_;
  std::unique_ptr<Slot[]> slots_;
};

}  // namespace tilvane
