#include "engine/decision_memo.h"

#include <mutex>
#include <unordered_set>

namespace tilvane {
namespace {

// The caller hashes the key once; the set reuses that hash, which sits in
// the key's first eight bytes.
struct StoredHash {
  std::size_t operator()(const std::string& key) const {
    std::uint64_t h = 0;
    for (std::size_t i = 0; i < 8 && i < key.size(); ++i) {
      h |= std::uint64_t{static_cast<unsigned char>(key[i])} << (8 * i);
    }
    return static_cast<std::size_t>(h);
  }
};

// Bytes counted per entry besides the key: node, bucket and string header.
constexpr std::size_t kEntryOverhead = 64;

}  // namespace

struct DecisionMemo::Shard {
  mutable std::mutex lock;
  std::unordered_set<std::string, StoredHash> keys;
};

DecisionMemo::DecisionMemo(std::size_t byte_budget)
    : budget_(byte_budget), shards_(new Shard[kShards]) {}

DecisionMemo::~DecisionMemo() = default;

bool DecisionMemo::contains(const std::string& key, std::uint64_t hash) const {
  const Shard& shard = shards_[(hash >> 58) % kShards];
  std::lock_guard<std::mutex> guard(shard.lock);
  return shard.keys.find(key) != shard.keys.end();
}

void DecisionMemo::insert(const std::string& key, std::uint64_t hash) {
  const std::size_t cost = key.size() + kEntryOverhead;
  std::size_t used = bytes_.load(std::memory_order_relaxed);
  do {
    if (used + cost > budget_) return;
  } while (!bytes_.compare_exchange_weak(used, used + cost, std::memory_order_relaxed));
  Shard& shard = shards_[(hash >> 58) % kShards];
  bool inserted = false;
  {
    std::lock_guard<std::mutex> guard(shard.lock);
    inserted = shard.keys.insert(key).second;
  }
  if (inserted) {
    entries_.fetch_add(1, std::memory_order_relaxed);
  } else {
    bytes_.fetch_sub(cost, std::memory_order_relaxed);
  }
}

}  // namespace tilvane
