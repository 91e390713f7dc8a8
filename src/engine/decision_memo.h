// The memo of the decision search: states known to admit no cover. A state
// is a period P, the moduli still unassigned (as a sorted list of values)
// and the residues of Z/P still uncovered; whether the moduli can cover
// those residues depends on nothing else, so a state found to fail in one
// search fails in every search, and one memo serves all searches of a
// census. The whole key is stored and compared, so a hit is never a guess.
//
// A key is a sequence of 64-bit words with its 64-bit hash. The memo is
// split into shards, each behind its own lock, so that many threads may look
// up and insert at once. A shard keeps two generations, each an open-
// addressed table of fixed-width slots (hash, place and length of the key)
// and an arena of key words, both allocated at their full size when first
// used: the memo never holds more than its byte budget. When the newer
// generation fills (half its slots, or its arena) the older one is cleared
// and they trade places, so the memo keeps storing, and keeps what the
// recent searches stored, which is what the next searches, of neighbouring
// candidates, mostly meet.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace tilvane {

class DecisionMemo {
 public:
  static constexpr std::size_t kDefaultBytes = std::size_t{64} << 20;

  explicit DecisionMemo(std::size_t byte_budget = kDefaultBytes);
  ~DecisionMemo();
  DecisionMemo(const DecisionMemo&) = delete;
  DecisionMemo& operator=(const DecisionMemo&) = delete;

  // Keys are opaque word sequences built by the search; hash is their hash
  // (any 64-bit mix of all the words). Keys longer than a generation's
  // arena are never stored.
  bool contains(std::span<const std::uint64_t> key, std::uint64_t hash) const;
  void insert(std::span<const std::uint64_t> key, std::uint64_t hash);

  std::size_t entries() const { return entries_.load(std::memory_order_relaxed); }
  // The bytes of the generations allocated so far (never above the budget).
  std::size_t bytes_used() const { return bytes_.load(std::memory_order_relaxed); }
  std::size_t byte_budget() const { return budget_; }
  // Lookups made and lookups that found their key.
  std::uint64_t lookups() const;
  std::uint64_t hits() const;

 private:
  struct Shard;
  static constexpr std::size_t kShards = 64;

  std::size_t budget_;
  std::size_t slots_;        // per generation, a power of two
  std::size_t arena_words_;  // per generation
  std::atomic<std::size_t> bytes_{0};
  std::atomic<std::size_t> entries_{0};
  std::unique_ptr<Shard[]> shards_;
};

}  // namespace tilvane
