// Moduli sets known not to cover, and what they settle. The class r (mod m')
// lies inside the class r (mod d) whenever d | m'. So if a set S' covers,
// the set S made from S' by replacing m' with a divisor d >= 2 of it that S'
// lacks also covers (give d the residue m' had); that is, when S does not
// cover, neither does S'. And when a set does not cover, no subset of it
// does (a cover of the subset covers with any residues for the rest).
//
// The store holds sets proven not to cover (by a search, or by one of these
// two rules), exactly, in a hash table shared by any number of threads.
// Only sets whose decision is known may go in: a set that was merely passed
// over says nothing. Its memory is bounded: each shard keeps two
// generations, and when the newer fills, the older is dropped; the sets
// that settle a candidate are usually close to it in candidate order, so
// the recent ones are those worth keeping. A miss only costs a search.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tilvane {

namespace dominance_detail {
struct Key;  // a stored set
}  // namespace dominance_detail

class DominanceStore {
 public:
  static constexpr std::size_t kDefaultBytes = std::size_t{64} << 20;
  // Sets beyond these are never stored and never found.
  static constexpr std::size_t kMaxSize = 16;
  static constexpr std::uint64_t kMaxModulus = 65535;

  explicit DominanceStore(std::size_t byte_budget = kDefaultBytes);
  ~DominanceStore();
  DominanceStore(const DominanceStore&) = delete;
  DominanceStore& operator=(const DominanceStore&) = delete;

  // Every set below is its moduli in strictly increasing order.
  // Records that the set does not cover.
  void insert(std::span<const std::uint64_t> set);
  bool contains(std::span<const std::uint64_t> set) const;
  // True when the set with one modulus replaced by a divisor d >= 2 of it,
  // not in the set, is stored: then the set does not cover.
  bool dominated(std::span<const std::uint64_t> set) const;
  // True when the set with one more modulus x, one of extensions not in the
  // set, is stored: then the set does not cover.
  bool extension_stored(std::span<const std::uint64_t> set,
                        std::span<const std::uint64_t> extensions) const;
  // The extensions worth trying for the subsets of a set with this least
  // common multiple: its divisors from 2 on, itself first, as far as a key
  // holds them.
  static std::vector<std::uint64_t> extensions_of(std::uint64_t lcm);

  std::size_t entries() const { return entries_.load(std::memory_order_relaxed); }

 private:
  struct Shard;
  static constexpr std::size_t kShards = 16;

  bool stored(const dominance_detail::Key& key) const;

  std::size_t generation_slots_;
  std::atomic<std::size_t> entries_{0};
  std::unique_ptr<Shard[]> shards_;
};

}  // namespace tilvane
