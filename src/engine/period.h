// The common period of a moduli sequence (its least common multiple), folded
// with overflow checks and bounded by the checker limit.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"

namespace tilvane {

inline constexpr std::uint64_t kPeriodLimit = 20000000;

// The least common multiple of the moduli (1 for none). Fails with
// "LCM overflow while combining {} and {}" when a step overflows, and with
// "common period {} exceeds checker limit {}" as soon as a prefix exceeds the
// limit, so later moduli are never looked at.
Result<std::uint64_t> common_period(std::span<const std::uint64_t> moduli);

}  // namespace tilvane
