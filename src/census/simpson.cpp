#include "census/simpson.h"

#include <algorithm>
#include <utility>

#include "base/checked_math.h"
#include "base/text_format.h"
#include "census/combinations.h"

namespace tilvane {
namespace {

// The divisors of l that are at least 2, in increasing order; l itself last.
ModuliSet divisors_from_two(std::uint64_t l) {
  ModuliSet divisors;
  for (std::uint64_t d = 2; d <= l; ++d) {
    if (l % d == 0) divisors.push_back(d);
  }
  return divisors;
}

// The least common multiple of a selection, folded from the left with the
// same overflow text as the common period.
Result<std::uint64_t> selection_lcm(const ModuliSet& selection) {
  std::uint64_t acc = 1;
  for (std::uint64_t t : selection) {
    const std::optional<std::uint64_t> next = checked_lcm(acc, t);
    if (!next) return fail(cat("LCM overflow while combining ", acc, " and ", t));
    acc = *next;
  }
  return acc;
}

}  // namespace

// Trial division by every integer q with q * q <= f: a composite q never
// divides what is left, because its prime factors were divided out before, so
// each q that divides is a prime and e counts its exponent. What remains above
// 1 at the end is one prime with exponent 1.
std::uint64_t simpson_sum(std::uint64_t lcm) {
  std::uint64_t f = lcm;
  std::uint64_t n = 0;
  for (std::uint64_t q = 2; q <= f / q; ++q) {
    std::uint64_t e = 0;
    while (f % q == 0) {
      f /= q;
      ++e;
    }
    n += e * (q - 1);
  }
  if (f > 1) n += f - 1;
  return n;
}

// Each L up to max_lcm that passes Simpson's bound contributes the k-element
// selections of its divisors whose least common multiple is exactly L. Since
// every set has exactly one least common multiple, no set can come from two
// values of L; the final neighbour check guards that reasoning, and the sort
// merges the per-L lists into one lexicographic order.
Result<ModuliSetList> candidates_via_simpson(std::size_t k, std::uint64_t max_lcm) {
  ModuliSetList result;
  for (std::uint64_t l = 1; l <= max_lcm; ++l) {
    if (simpson_sum(l) < k) {
      const ModuliSet divisors = divisors_from_two(l);
      for (ModuliSet& selection : combinations_from(divisors, k)) {
        auto lcm = selection_lcm(selection);
        if (!lcm) return std::move(lcm).take_error();
        if (*lcm == l) result.push_back(std::move(selection));
      }
    }
    if (l == max_lcm) break;  // max_lcm may be 2^64 - 1
  }
  std::sort(result.begin(), result.end());
  if (std::adjacent_find(result.begin(), result.end()) != result.end()) {
    return fail("internal duplicate in exact-LCM candidate enumeration");
  }
  return result;
}

}  // namespace tilvane
