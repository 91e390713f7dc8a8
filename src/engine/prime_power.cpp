#include "engine/prime_power.h"

#include <optional>

#include "base/checked_math.h"
#include "engine/period.h"

namespace tilvane {

std::vector<PrimeFactor> factor_small(std::uint64_t n) {
  std::vector<PrimeFactor> out;
  for (std::uint64_t q = 2; q <= n / q; ++q) {
    if (n % q != 0) continue;
    unsigned e = 0;
    while (n % q == 0) {
      n /= q;
      ++e;
    }
    out.push_back({q, e});
  }
  if (n > 1) out.push_back({n, 1});
  return out;
}

namespace {

unsigned valuation(std::uint64_t m, std::uint64_t p) {
  unsigned e = 0;
  while (m % p == 0) {
    m /= p;
    ++e;
  }
  return e;
}

std::uint64_t active_period(const PrimePowerReduction& r) {
  std::uint64_t period = 1;
  for (std::size_t i = 0; i < r.items.size(); ++i) {
    // The active items divide the original period, so no step overflows.
    if (r.active[i] != 0) period = checked_lcm(period, r.items[i]).value_or(0);
  }
  return period;
}

// One reduction step on the active items, or false when none applies.
bool reduce_once(PrimePowerReduction& r, bool merge) {
  for (const PrimeFactor& f : factor_small(r.period)) {
    std::vector<std::size_t> group;
    for (std::size_t i = 0; i < r.items.size(); ++i) {
      if (r.active[i] != 0 && valuation(r.items[i], f.prime) == f.exponent) group.push_back(i);
    }
    if (group.size() < f.prime) {
      for (std::size_t i : group) r.active[i] = 0;
      r.removed += group.size();
      return true;
    }
    if (merge && group.size() == f.prime) {
      std::uint64_t merged = 1;
      for (std::size_t i : group) {
        merged = checked_lcm(merged, r.items[i] / f.prime).value_or(0);
        r.active[i] = 0;
      }
      r.merges.push_back({r.items.size(), f.prime, group});
      r.items.push_back(merged);
      r.active.push_back(1);
      return true;
    }
  }
  return false;
}

}  // namespace

bool prime_power_reducible(std::span<const std::uint64_t> moduli) {
  const std::optional<std::uint64_t> lcm = checked_lcm_of(moduli);
  if (moduli.empty() || !lcm || *lcm > kPeriodLimit) return false;
  for (const PrimeFactor& f : factor_small(*lcm)) {
    std::uint64_t count = 0;
    for (std::uint64_t m : moduli) {
      if (valuation(m, f.prime) == f.exponent) ++count;
    }
    if (count < f.prime) return true;
  }
  return false;
}

PrimePowerReduction reduce_prime_powers(std::span<const std::uint64_t> moduli,
                                        std::uint64_t period, bool merge) {
  PrimePowerReduction r;
  r.items.assign(moduli.begin(), moduli.end());
  r.active.assign(moduli.size(), 1);
  r.period = period;
  // A merged modulus of 1 covers everything: nothing is left to reduce.
  while (r.period > 1 && reduce_once(r, merge)) r.period = active_period(r);
  return r;
}

void expand_merged_residues(const PrimePowerReduction& reduction,
                            std::vector<std::uint64_t>& residues) {
  for (auto it = reduction.merges.rbegin(); it != reduction.merges.rend(); ++it) {
    const std::uint64_t p = it->prime;
    const std::uint64_t y = residues[it->item];
    // p^e from any part (each has p-part exactly p^e).
    std::uint64_t power = 1;
    for (std::uint64_t m = reduction.items[it->parts[0]]; m % p == 0; m /= p) power *= p;
    const std::uint64_t low = power / p;
    std::uint64_t t = 0;
    for (std::size_t part : it->parts) {
      // Of the p residues that are y mod a/p, the one whose digit above
      // p^(e-1) is t; p is at most the number of moduli, so the walk is short.
      const std::uint64_t step = reduction.items[part] / p;
      const std::uint64_t want = y % low + t * low;
      std::uint64_t r = y % step;
      while (r % power != want) r += step;
      residues[part] = r;
      ++t;
    }
  }
}

}  // namespace tilvane
