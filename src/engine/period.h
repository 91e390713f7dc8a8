// The common period of a moduli sequence (its least common multiple), folded
// with overflow checks and bounded by the checker limit, plus the checked
// 64-bit helpers the rest of the engine shares.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "engine/result.h"

namespace tilvane {

inline constexpr std::uint64_t kPeriodLimit = 20000000;

std::uint64_t gcd_u64(std::uint64_t a, std::uint64_t b);

// a * b, or nothing when the product does not fit in 64 bits.
std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b);

// The least common multiple of the moduli (1 for none). Fails with
// "LCM overflow while combining {} and {}" when a step overflows, and with
// "common period {} exceeds checker limit {}" as soon as a prefix exceeds the
// limit, so later moduli are never looked at.
Result<std::uint64_t> common_period(std::span<const std::uint64_t> moduli);

}  // namespace tilvane
