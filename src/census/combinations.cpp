#include "census/combinations.h"

namespace tilvane {
namespace {

// Appends to out every extension of prefix by `remaining` increasing values
// from start through largest. Each level stops early enough that the deeper
// levels always find their values, so no partial selection is abandoned.
void rec(std::uint64_t start, std::uint64_t largest, std::size_t remaining, ModuliSet& prefix,
         ModuliSetList& out) {
  if (remaining == 0) {
    out.push_back(prefix);
    return;
  }
  if (largest < start || largest - start + 1 < remaining) return;
  const std::uint64_t last = largest - (remaining - 1);
  for (std::uint64_t a = start;; ++a) {
    prefix.push_back(a);
    rec(a + 1, largest, remaining - 1, prefix, out);
    prefix.pop_back();
    if (a == last) break;  // counting up to last itself, which may be 2^64 - 1
  }
}

// The same over positions of pool instead of values of a range.
void rec(std::span<const std::uint64_t> pool, std::size_t index, std::size_t remaining,
         ModuliSet& prefix, ModuliSetList& out) {
  if (remaining == 0) {
    out.push_back(prefix);
    return;
  }
  const std::size_t available = index < pool.size() ? pool.size() - index : 0;
  if (available < remaining) return;
  for (std::size_t i = index; i <= pool.size() - remaining; ++i) {
    prefix.push_back(pool[i]);
    rec(pool, i + 1, remaining - 1, prefix, out);
    prefix.pop_back();
  }
}

}  // namespace

ModuliSetList combinations(std::size_t k, std::uint64_t largest) {
  ModuliSet prefix;
  prefix.reserve(k);
  ModuliSetList out;
  rec(2, largest, k, prefix, out);
  return out;
}

ModuliSetList combinations_from(std::span<const std::uint64_t> pool, std::size_t k) {
  ModuliSet prefix;
  prefix.reserve(k);
  ModuliSetList out;
  rec(pool, 0, k, prefix, out);
  return out;
}

}  // namespace tilvane
