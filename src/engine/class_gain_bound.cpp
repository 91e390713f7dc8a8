#include "engine/class_gain_bound.h"

#include <algorithm>

namespace tilvane {

ClassCounts::ClassCounts(std::span<const std::uint32_t> moduli, std::uint32_t period)
    : moduli_(moduli.begin(), moduli.end()),
      period_(period),
      depth_(period, 0),
      uncovered_(period) {
  counts_.reserve(moduli_.size());
  for (const std::uint32_t m : moduli_) counts_.emplace_back(m, period / m);
}

std::uint32_t ClassCounts::gain(std::size_t j) const {
  return *std::max_element(counts_[j].begin(), counts_[j].end());
}

// A residue entering or leaving U changes one count of every modulus.
void ClassCounts::add(std::size_t j, std::uint32_t c) {
  for (std::uint32_t x = c; x < period_; x += moduli_[j]) {
    if (depth_[x]++ != 0) continue;
    --uncovered_;
    for (std::size_t i = 0; i < moduli_.size(); ++i) --counts_[i][x % moduli_[i]];
  }
}

void ClassCounts::withdraw(std::size_t j, std::uint32_t c) {
  for (std::uint32_t x = c; x < period_; x += moduli_[j]) {
    if (--depth_[x] != 0) continue;
    ++uncovered_;
    for (std::size_t i = 0; i < moduli_.size(); ++i) ++counts_[i][x % moduli_[i]];
  }
}

}  // namespace tilvane
