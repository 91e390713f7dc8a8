// A population count that needs no special instruction, for code built for
// baseline x86-64 (where std::popcount becomes a library call).
#pragma once

#include <cstdint>

namespace tilvane {

inline std::uint32_t portable_popcount(std::uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555ULL);
  v = (v & 0x3333333333333333ULL) + ((v >> 2) & 0x3333333333333333ULL);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<std::uint32_t>((v * 0x0101010101010101ULL) >> 56);
}

}  // namespace tilvane
