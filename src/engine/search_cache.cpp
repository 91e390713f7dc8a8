#include "engine/search_cache.h"

#include <algorithm>

namespace tilvane {

// The key is the moduli, packed as 16-bit numbers and padded with zeros
// (moduli are at least 2, so the padding cannot be mistaken for one). The
// state word holds the slot's stage in its low two bits and, once ready, the
// outcome above them.
struct SearchCache::Slot {
  std::atomic<std::uint32_t> state{0};
  std::uint16_t moduli[kMaxModuli] = {};
  std::uint64_t nodes = 0;
};

struct SearchCache::Key {
  std::uint16_t moduli[kMaxModuli] = {};
  std::uint64_t hash = 0;
};

namespace {

constexpr std::uint32_t kEmpty = 0;
constexpr std::uint32_t kWriting = 1;
constexpr std::uint32_t kReady = 2;
constexpr std::uint32_t kStageMask = 3;
// Slots examined from a set's home slot, two per cache line.
constexpr std::size_t kProbeWindow = 16;

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

}  // namespace

SearchCache::SearchCache(std::uint64_t max_nodes, std::size_t slot_count) : max_nodes_(max_nodes) {
  static_assert(sizeof(Slot) == 32, "two slots per cache line");
  std::size_t size = 64;
  while (size < slot_count) size <<= 1;
  mask_ = size - 1;
  slots_ = std::make_unique<Slot[]>(size);
}

SearchCache::~SearchCache() = default;

std::size_t SearchCache::memory_bytes() const { return sizeof(Slot) * slot_count(); }

namespace {

// Packs the moduli into a key; false when they do not fit the slots.
template <class KeyType>
bool make_key(std::span<const std::uint64_t> moduli, KeyType& key) {
  if (moduli.empty() || moduli.size() > SearchCache::kMaxModuli) return false;
  std::uint64_t h = moduli.size();
  for (std::size_t i = 0; i < moduli.size(); ++i) {
    if (moduli[i] < 2 || moduli[i] > 0xFFFF) return false;
    key.moduli[i] = static_cast<std::uint16_t>(moduli[i]);
    h = mix(h ^ (moduli[i] << 17) ^ i);
  }
  key.hash = h;
  return true;
}

template <class SlotType, class KeyType>
bool same_key(const SlotType& slot, const KeyType& key) {
  return std::equal(std::begin(key.moduli), std::end(key.moduli), std::begin(slot.moduli));
}

}  // namespace

std::optional<CachedSearch> SearchCache::find(std::span<const std::uint64_t> moduli) const {
  Key key;
  if (!make_key(moduli, key)) return std::nullopt;
  for (std::size_t probe = 0; probe < kProbeWindow; ++probe) {
    const Slot& slot = slots_[(key.hash + probe) & mask_];
    const std::uint32_t state = slot.state.load(std::memory_order_acquire);
    if (state == kEmpty) return std::nullopt;
    if ((state & kStageMask) != kReady || !same_key(slot, key)) continue;
    return CachedSearch{static_cast<SearchOutcome>(state >> 2), slot.nodes};
  }
  return std::nullopt;
}

void SearchCache::insert(std::span<const std::uint64_t> moduli, const CachedSearch& result) {
  if (result.nodes < kMinNodes) return;
  Key key;
  if (!make_key(moduli, key)) return;
  for (std::size_t probe = 0; probe < kProbeWindow; ++probe) {
    Slot& slot = slots_[(key.hash + probe) & mask_];
    std::uint32_t state = slot.state.load(std::memory_order_acquire);
    if (state == kEmpty) {
      if (!slot.state.compare_exchange_strong(state, kWriting, std::memory_order_acq_rel)) {
        continue;  // another writer took it first
      }
      std::copy(std::begin(key.moduli), std::end(key.moduli), std::begin(slot.moduli));
      slot.nodes = result.nodes;
      slot.state.store(kReady | static_cast<std::uint32_t>(result.outcome) << 2,
                       std::memory_order_release);
      return;
    }
    if ((state & kStageMask) == kReady && same_key(slot, key)) return;
  }
}

std::size_t SearchCache::stored() const {
  std::size_t count = 0;
  for (std::size_t i = 0; i <= mask_; ++i) {
    if ((slots_[i].state.load(std::memory_order_acquire) & kStageMask) == kReady) ++count;
  }
  return count;
}

}  // namespace tilvane
