// The memo of the decision search: states known to admit no cover. A state
// is a period P, the moduli still unassigned (as a sorted list of values)
// and the residues of Z/P still uncovered; whether the moduli can cover
// those residues depends on nothing else, so a state found to fail in one
// search fails in every search, and one memo serves all searches of a
// census. The whole key is stored and compared, so a hit is never a guess.
//
// The memo is split into shards, each a hash set behind its own lock, so
// that many threads may look up and insert at once. Its memory is bounded:
// each shard keeps two generations of keys, and when the newer one reaches
// half the shard's share of the byte budget (counting the keys with a fixed
// allowance per entry) the older one is dropped and the newer takes its
// place. A census keeps working with what its recent searches stored, which
// is what its next searches, of neighbouring candidates, mostly meet.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tilvane {

class DecisionMemo {
 public:
  static constexpr std::size_t kDefaultBytes = std::size_t{64} << 20;

  explicit DecisionMemo(std::size_t byte_budget = kDefaultBytes);
  ~DecisionMemo();
  DecisionMemo(const DecisionMemo&) = delete;
  DecisionMemo& operator=(const DecisionMemo&) = delete;

  // Keys are opaque byte strings built by the search; hash is their hash.
  bool contains(const std::string& key, std::uint64_t hash) const;
  void insert(const std::string& key, std::uint64_t hash);

  std::size_t entries() const { return entries_.load(std::memory_order_relaxed); }
  std::size_t bytes_used() const { return bytes_.load(std::memory_order_relaxed); }
  std::size_t byte_budget() const { return budget_; }

 private:
  struct Shard;
  static constexpr std::size_t kShards = 64;

  std::size_t budget_;
  std::atomic<std::size_t> bytes_{0};
  std::atomic<std::size_t> entries_{0};
  std::unique_ptr<Shard[]> shards_;
};

}  // namespace tilvane
