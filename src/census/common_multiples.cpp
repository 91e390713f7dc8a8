#include "census/common_multiples.h"

#include <optional>

#include "engine/period.h"

namespace tilvane {
namespace {

// lcm(a, b), or nothing when it exceeds bound (or 64 bits).
std::optional<std::uint64_t> lcm_within(std::uint64_t a, std::uint64_t b, std::uint64_t bound) {
  auto product = checked_mul(a / gcd_u64(a, b), b);
  if (!product || *product > bound) return std::nullopt;
  return product;
}

// Extends prefix, whose least common multiple is lcm (<= max_lcm), by
// `remaining` increasing values from start on, keeping the least common
// multiple within max_lcm, and appends every completed set to out.
//
// The least common multiple never shrinks as values are added, so a prefix
// whose multiple already exceeds the bound has no completion and is cut off.
// Every value of a set divides its multiple, so no value above max_lcm can
// occur. Values are tried in increasing order at every level, so the sets come
// out in lexicographic order, each exactly once.
void rec(std::uint64_t start, std::uint64_t max_lcm, std::uint64_t lcm, std::size_t remaining,
         ModuliSet& prefix, ModuliSetList& out) {
  if (remaining == 0) {
    out.push_back(prefix);
    return;
  }
  for (std::uint64_t a = start; a <= max_lcm; ++a) {
    if (auto next = lcm_within(lcm, a, max_lcm)) {
      prefix.push_back(a);
      rec(a + 1, max_lcm, *next, remaining - 1, prefix, out);
      prefix.pop_back();
    }
    if (a == max_lcm) break;  // max_lcm may be 2^64 - 1
  }
}

}  // namespace

// The defining construction collects, for every N up to max_lcm, every
// k-element selection of the divisors of N that are at least 2, and keeps the
// distinct ones in lexicographic order. A set arises there exactly when its
// least common multiple is at most max_lcm (at N = its multiple, and at every
// multiple of that up to the bound), so the result is the list of all
// k-element sets of integers >= 2 whose least common multiple is at most
// max_lcm, in lexicographic order. This generates that list directly by a
// depth-first walk in lexicographic order, without repeats to drop.
ModuliSetList candidates_via_common_multiples(std::size_t k, std::uint64_t max_lcm) {
  ModuliSetList out;
  if (max_lcm == 0) return out;  // not even N = 1 exists
  ModuliSet prefix;
  prefix.reserve(k);
  rec(2, max_lcm, 1, k, prefix, out);
  return out;
}

}  // namespace tilvane
