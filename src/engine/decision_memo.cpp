#include "engine/decision_memo.h"

#include <algorithm>
#include <bit>
#include <mutex>
#include <vector>

namespace tilvane {
namespace {

// A slot of a generation's table: the key's hash, where its words start in
// the arena and how many there are. Hash 0 is kept for empty slots (a key
// whose hash is 0 is stored under 1, and compared in full all the same).
struct Slot {
  std::uint64_t hash = 0;
  std::uint32_t start = 0;
  std::uint32_t words = 0;
};

std::uint64_t slot_hash(std::uint64_t hash) { return hash == 0 ? 1 : hash; }

// The budget is shared out as two generations per shard, one eighth of
// each in slots and the rest in key words: at half the slots in use that
// leaves 28 words (224 bytes) per key, about what a state of period 1440
// with a dozen unassigned moduli needs.
constexpr std::size_t kSlotShare = 8;

// One generation: a table at most half full and the arena its keys live in.
struct Generation {
  std::unique_ptr<Slot[]> slots;
  std::unique_ptr<std::uint64_t[]> arena;
  std::size_t used_slots = 0;
  std::size_t used_words = 0;

  bool allocated() const { return slots != nullptr; }

  bool find(std::span<const std::uint64_t> key, std::uint64_t h, std::size_t mask) const {
    if (!allocated()) return false;
    for (std::size_t i = static_cast<std::size_t>(h) & mask;; i = (i + 1) & mask) {
      const Slot& s = slots[i];
      if (s.hash == 0) return false;
      if (s.hash == h && s.words == key.size() &&
          std::equal(key.begin(), key.end(), arena.get() + s.start)) {
        return true;
      }
    }
  }

  void put(std::span<const std::uint64_t> key, std::uint64_t h, std::size_t mask) {
    std::size_t i = static_cast<std::size_t>(h) & mask;
    while (slots[i].hash != 0) i = (i + 1) & mask;
    slots[i] = {h, static_cast<std::uint32_t>(used_words), static_cast<std::uint32_t>(key.size())};
    std::copy(key.begin(), key.end(), arena.get() + used_words);
    used_words += key.size();
    ++used_slots;
  }

  void clear(std::size_t slot_count) {
    std::fill(slots.get(), slots.get() + slot_count, Slot{});
    used_slots = 0;
    used_words = 0;
  }
};

}  // namespace

struct DecisionMemo::Shard {
  mutable std::mutex lock;
  Generation newer;
  Generation older;
  // Counted under the lock, so that lookups touch no shared counter.
  mutable std::uint64_t lookups = 0;
  mutable std::uint64_t hits = 0;
};

DecisionMemo::DecisionMemo(std::size_t byte_budget)
    : budget_(byte_budget), shards_(new Shard[kShards]) {
  const std::size_t generation_bytes = byte_budget / kShards / 2;
  slots_ = std::bit_floor(std::max<std::size_t>(generation_bytes / kSlotShare / sizeof(Slot), 1));
  arena_words_ = std::min<std::size_t>(
      (generation_bytes > slots_ * sizeof(Slot) ? generation_bytes - slots_ * sizeof(Slot) : 0) /
          sizeof(std::uint64_t),
      std::size_t{UINT32_MAX});
  // Too small a budget for one slot and one word per generation: store
  // nothing.
  if (slots_ < 2 || arena_words_ == 0 ||
      2 * kShards * (slots_ * sizeof(Slot) + arena_words_ * 8) > byte_budget) {
    slots_ = 0;
    arena_words_ = 0;
  }
}

DecisionMemo::~DecisionMemo() = default;

bool DecisionMemo::contains(std::span<const std::uint64_t> key, std::uint64_t hash) const {
  if (slots_ == 0) return false;
  const std::uint64_t h = slot_hash(hash);
  const Shard& shard = shards_[(h >> 58) % kShards];
  std::lock_guard<std::mutex> guard(shard.lock);
  const bool found = shard.newer.find(key, h, slots_ - 1) || shard.older.find(key, h, slots_ - 1);
  ++shard.lookups;
  shard.hits += found ? 1 : 0;
  return found;
}

namespace {

// One counter summed over the shards, each read under its lock.
template <typename Shard>
std::uint64_t sum_over_shards(const Shard* shards, std::size_t count,
                              std::uint64_t Shard::*counter) {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::lock_guard<std::mutex> guard(shards[i].lock);
    total += shards[i].*counter;
  }
  return total;
}

}  // namespace

std::uint64_t DecisionMemo::lookups() const {
  return sum_over_shards(shards_.get(), kShards, &Shard::lookups);
}

std::uint64_t DecisionMemo::hits() const {
  return sum_over_shards(shards_.get(), kShards, &Shard::hits);
}

void DecisionMemo::insert(std::span<const std::uint64_t> key, std::uint64_t hash) {
  if (slots_ == 0 || key.size() > arena_words_) return;
  const std::uint64_t h = slot_hash(hash);
  Shard& shard = shards_[(h >> 58) % kShards];
  std::lock_guard<std::mutex> guard(shard.lock);
  if (shard.newer.find(key, h, slots_ - 1) || shard.older.find(key, h, slots_ - 1)) return;
  if (!shard.newer.allocated()) {
    shard.newer.slots.reset(new Slot[slots_]);
    shard.newer.arena.reset(new std::uint64_t[arena_words_]);
    bytes_.fetch_add(slots_ * sizeof(Slot) + arena_words_ * sizeof(std::uint64_t),
                     std::memory_order_relaxed);
  }
  if (2 * (shard.newer.used_slots + 1) > slots_ ||
      shard.newer.used_words + key.size() > arena_words_) {
    // The newer generation is full: the older one is emptied and becomes
    // the newer (allocated now if this is the first time).
    entries_.fetch_sub(shard.older.used_slots, std::memory_order_relaxed);
    if (shard.older.allocated()) {
      shard.older.clear(slots_);
    } else {
      shard.older.slots.reset(new Slot[slots_]);
      shard.older.arena.reset(new std::uint64_t[arena_words_]);
      bytes_.fetch_add(slots_ * sizeof(Slot) + arena_words_ * sizeof(std::uint64_t),
                       std::memory_order_relaxed);
    }
    std::swap(shard.older, shard.newer);
  }
  shard.newer.put(key, h, slots_ - 1);
  entries_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace tilvane
