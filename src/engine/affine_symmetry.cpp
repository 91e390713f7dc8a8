#include "engine/affine_symmetry.h"

#include "base/checked_math.h"

namespace tilvane {
namespace {

std::uint64_t divisor_count(std::uint64_t n) {
  std::uint64_t count = 0;
  for (std::uint64_t d = 1; d <= n / d; ++d) {
    if (n % d == 0) count += d == n / d ? 1 : 2;
  }
  return count;
}

}  // namespace

SymmetryPlan plan_symmetry(std::span<const std::uint64_t> moduli, std::size_t first) {
  SymmetryPlan plan;
  const std::uint64_t m1 = moduli[first];
  // The largest s / tau(g), compared as s * tau(g') > s' * tau(g).
  std::uint64_t best_s = 0;
  std::uint64_t best_tau = 1;
  for (std::size_t j = 0; j < moduli.size(); ++j) {
    if (j == first) continue;
    const std::uint64_t tau = divisor_count(gcd_u64(m1, moduli[j]));
    if (plan.second == SymmetryPlan::kNone || moduli[j] * best_tau > best_s * tau) {
      plan.second = j;
      best_s = moduli[j];
      best_tau = tau;
    }
  }
  if (plan.second == SymmetryPlan::kNone) return plan;
  const std::uint64_t s = moduli[plan.second];
  const std::uint64_t g = gcd_u64(m1, s);
  plan.second_residues.push_back(0);
  for (std::uint64_t d = 1; d < g; ++d) {
    if (g % d == 0) plan.second_residues.push_back(d);
  }

  const std::uint64_t l2 = m1 / g * s;
  std::uint64_t best_w = 0;
  std::uint64_t best_gcd = 1;
  for (std::size_t j = 0; j < moduli.size(); ++j) {
    if (j == first || j == plan.second) continue;
    const std::uint64_t h = gcd_u64(l2, moduli[j]);
    if (plan.third == SymmetryPlan::kNone || moduli[j] * best_gcd > best_w * h) {
      plan.third = j;
      best_w = moduli[j];
      best_gcd = h;
    }
  }
  if (plan.third != SymmetryPlan::kNone) plan.third_residues = best_gcd;
  return plan;
}

}  // namespace tilvane
