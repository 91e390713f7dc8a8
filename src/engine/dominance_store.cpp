#include "engine/dominance_store.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/uint128.h"

namespace tilvane {

// A set as up to 16 moduli of 16 bits, zero-padded; an all-zero key marks
// an empty slot (moduli are at least 2).
struct dominance_detail::Key {
  std::array<std::uint16_t, DominanceStore::kMaxSize> moduli{};
  friend bool operator==(const Key&, const Key&) = default;
  bool empty() const { return moduli[0] == 0; }

  std::uint64_t hash() const {
    std::uint64_t words[4];
    std::memcpy(words, moduli.data(), sizeof words);
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (std::uint64_t w : words) {
      h = (h ^ w) * 0xff51afd7ed558ccdULL;
      h ^= h >> 32;
    }
    h *= 0xbf58476d1ce4e5b9ULL;
    return h ^ (h >> 29);
  }
};

namespace {

using dominance_detail::Key;

bool fits(std::span<const std::uint64_t> set) {
  return !set.empty() && set.size() <= DominanceStore::kMaxSize &&
         set.back() <= DominanceStore::kMaxModulus;
}

Key key_of(std::span<const std::uint64_t> set) {
  Key key;
  for (std::size_t i = 0; i < set.size(); ++i) key.moduli[i] = static_cast<std::uint16_t>(set[i]);
  return key;
}

// The key of the set with set[skip] left out (skip = size for none) and x
// put in its place in order.
Key key_with(std::span<const std::uint64_t> set, std::size_t skip, std::uint64_t x) {
  Key key;
  std::size_t out = 0;
  bool placed = false;
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (i == skip) continue;
    if (!placed && x < set[i]) {
      key.moduli[out++] = static_cast<std::uint16_t>(x);
      placed = true;
    }
    key.moduli[out++] = static_cast<std::uint16_t>(set[i]);
  }
  if (!placed) key.moduli[out] = static_cast<std::uint16_t>(x);
  return key;
}

// The divisors d of n with 2 <= d < n, in decreasing order.
void proper_divisors(std::uint64_t n, std::vector<std::uint64_t>& out) {
  out.clear();
  for (std::uint64_t d = 1; d <= n / d; ++d) {
    if (n % d != 0) continue;
    if (d >= 2) out.push_back(d);
    if (n / d != d && d != 1) out.push_back(n / d);
  }
  std::sort(out.begin(), out.end(), std::greater<>());
}

bool holds(std::span<const std::uint64_t> set, std::uint64_t x) {
  return std::binary_search(set.begin(), set.end(), x);
}

}  // namespace

// Open addressing with linear probing, at most half full per generation.
// Beside each table an array of one-byte tags (0 for an empty slot, else
// seven bits of the key's hash with the top bit set): a probe reads the
// tags and compares a whole key only where its tag matches, so a miss, the
// common answer, touches a byte per slot instead of a key. The start slot
// comes from other bits of the hash than the tag and the shard.
struct DominanceStore::Shard {
  struct Generation {
    std::vector<Key> keys;
    std::vector<std::uint8_t> tags;
    std::size_t count = 0;
  };
  mutable std::mutex lock;
  Generation newer;
  Generation older;

  static std::uint8_t tag_of(std::uint64_t h) {
    return static_cast<std::uint8_t>((h & 0x7F) | 0x80);
  }
  static std::size_t start_of(std::uint64_t h, std::size_t slots) {
    return static_cast<std::size_t>((static_cast<u128>(h << 4) * slots) >> 64);
  }

  static bool find(const Generation& g, const Key& key, std::uint64_t h) {
    const std::size_t slots = g.tags.size();
    if (slots == 0) return false;
    const std::uint8_t tag = tag_of(h);
    for (std::size_t i = start_of(h, slots);; i = i + 1 == slots ? 0 : i + 1) {
      const std::uint8_t t = g.tags[i];
      if (t == 0) return false;
      if (t == tag && g.keys[i] == key) return true;
    }
  }
};

DominanceStore::DominanceStore(std::size_t byte_budget)
    : generation_slots_(std::max<std::size_t>(
          byte_budget / (2 * kShards * (sizeof(Key) + sizeof(std::uint8_t))), 16)),
      shards_(new Shard[kShards]) {}

DominanceStore::~DominanceStore() = default;

void DominanceStore::insert(std::span<const std::uint64_t> set) {
  if (!fits(set)) return;
  const Key key = key_of(set);
  const std::uint64_t h = key.hash();
  Shard& shard = shards_[h >> 60];
  std::lock_guard guard(shard.lock);
  if (Shard::find(shard.newer, key, h) || Shard::find(shard.older, key, h)) return;
  Shard::Generation& newer = shard.newer;
  if (newer.tags.empty() || 2 * (newer.count + 1) > newer.tags.size()) {
    // The newer generation is full: it becomes the older one.
    entries_.fetch_sub(shard.older.count, std::memory_order_relaxed);
    std::swap(shard.older, shard.newer);
    newer.keys.assign(generation_slots_, Key{});
    newer.tags.assign(generation_slots_, 0);
    newer.count = 0;
  }
  const std::size_t slots = newer.tags.size();
  std::size_t i = Shard::start_of(h, slots);
  while (newer.tags[i] != 0) i = i + 1 == slots ? 0 : i + 1;
  newer.keys[i] = key;
  newer.tags[i] = Shard::tag_of(h);
  ++newer.count;
  entries_.fetch_add(1, std::memory_order_relaxed);
}

bool DominanceStore::stored(const Key& key) const {
  const std::uint64_t h = key.hash();
  const Shard& shard = shards_[h >> 60];
  std::lock_guard guard(shard.lock);
  return Shard::find(shard.newer, key, h) || Shard::find(shard.older, key, h);
}

bool DominanceStore::contains(std::span<const std::uint64_t> set) const {
  return fits(set) && stored(key_of(set));
}

bool DominanceStore::dominated(std::span<const std::uint64_t> set) const {
  if (!fits(set)) return false;
  std::vector<std::uint64_t> divisors;
  for (std::size_t i = set.size(); i-- > 0;) {
    proper_divisors(set[i], divisors);
    for (std::uint64_t d : divisors) {
      if (!holds(set, d) && stored(key_with(set, i, d))) return true;
    }
  }
  return false;
}

std::vector<std::uint64_t> DominanceStore::extensions_of(std::uint64_t lcm) {
  std::vector<std::uint64_t> divisors;
  if (lcm > kMaxModulus) return divisors;
  proper_divisors(lcm, divisors);
  divisors.insert(divisors.begin(), lcm);
  return divisors;
}

bool DominanceStore::extension_stored(std::span<const std::uint64_t> set,
                                      std::span<const std::uint64_t> extensions) const {
  if (set.size() + 1 > kMaxSize || (!set.empty() && !fits(set))) return false;
  for (std::uint64_t x : extensions) {
    if (x <= kMaxModulus && !holds(set, x) && stored(key_with(set, set.size(), x))) return true;
  }
  return false;
}

}  // namespace tilvane
