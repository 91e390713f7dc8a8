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
  std::unordered_set<std::string, StoredHash> newer;
  std::unordered_set<std::string, StoredHash> older;
  std::size_t newer_bytes = 0;
  std::size_t older_bytes = 0;
};

DecisionMemo::DecisionMemo(std::size_t byte_budget)
    : budget_(byte_budget), shards_(new Shard[kShards]) {}

DecisionMemo::~DecisionMemo() = default;

bool DecisionMemo::contains(const std::string& key, std::uint64_t hash) const {
  const Shard& shard = shards_[(hash >> 58) % kShards];
  std::lock_guard<std::mutex> guard(shard.lock);
  return shard.newer.count(key) != 0 || shard.older.count(key) != 0;
}

void DecisionMemo::insert(const std::string& key, std::uint64_t hash) {
  const std::size_t cost = key.size() + kEntryOverhead;
  const std::size_t generation_budget = budget_ / kShards / 2;
  if (cost > generation_budget) return;
  Shard& shard = shards_[(hash >> 58) % kShards];
  std::lock_guard<std::mutex> guard(shard.lock);
  if (shard.older.count(key) != 0) return;
  if (shard.newer_bytes + cost > generation_budget) {
    bytes_.fetch_sub(shard.older_bytes, std::memory_order_relaxed);
    entries_.fetch_sub(shard.older.size(), std::memory_order_relaxed);
    shard.older.clear();
    shard.older.swap(shard.newer);
    shard.older_bytes = shard.newer_bytes;
    shard.newer_bytes = 0;
  }
  if (!shard.newer.insert(key).second) return;
  shard.newer_bytes += cost;
  bytes_.fetch_add(cost, std::memory_order_relaxed);
  entries_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace tilvane
