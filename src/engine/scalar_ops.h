// The word-by-word operations of the bitset searches, written once: the
// portable kernels use them throughout, the vector kernels for bitsets too
// short for a register. Count is the population count: PortableCount needs
// no special instruction, HardwareCount becomes POPCNT in units compiled
// with it (and a library call elsewhere, so only those units use it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tilvane {
namespace {

// A population count in arithmetic, for code built for baseline x86-64
// (where std::popcount becomes a library call).
inline std::uint32_t portable_popcount(std::uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555ULL);
  v = (v & 0x3333333333333333ULL) + ((v >> 2) & 0x3333333333333333ULL);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<std::uint32_t>((v * 0x0101010101010101ULL) >> 56);
}

struct PortableCount {
  static std::uint32_t count(std::uint64_t v) { return portable_popcount(v); }
};

struct HardwareCount {
  static std::uint32_t count(std::uint64_t v) {
    return static_cast<std::uint32_t>(__builtin_popcountll(v));
  }
};

inline std::uint64_t load_word(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// For a bitset of W words (see BitsetDfs for the contract of each).
template <class Count>
struct ScalarOps {
  template <unsigned W>
  static std::uint32_t gain(const std::uint64_t* bits, const std::uint8_t* mask) {
    std::uint32_t sum = 0;
#pragma GCC unroll 16
    for (unsigned i = 0; i < W; ++i) sum += Count::count(bits[i] & load_word(mask + 8 * i));
    return sum;
  }

  template <unsigned W>
  static void cut(std::uint64_t* out, const std::uint64_t* bits, const std::uint8_t* mask) {
#pragma GCC unroll 16
    for (unsigned i = 0; i < W; ++i) out[i] = bits[i] & ~load_word(mask + 8 * i);
  }

  template <unsigned W>
  static bool empty_without(const std::uint64_t* bits, const std::uint8_t* a,
                            const std::uint8_t* b) {
    std::uint64_t any = 0;
#pragma GCC unroll 16
    for (unsigned i = 0; i < W; ++i) any |= bits[i] & ~load_word(a + 8 * i) & ~load_word(b + 8 * i);
    return any == 0;
  }
};

// The two loops of the wide bitset search (see WideBitsetKernels). A class
// mask word is read out of the modulus' pattern as the 64 bits that start at
// bit shift of pattern word i; for shift 0 the second term is 0, since
// (high << 1) has bit 0 clear.
template <class Count>
struct WideLoops {
  static std::uint64_t window_word(const std::uint64_t* pattern, std::size_t i, unsigned shift) {
    return (pattern[i] >> shift) | ((pattern[i + 1] << 1) << (63 - shift));
  }

  static std::uint64_t gain(const std::uint64_t* bits, const std::uint64_t* pattern, unsigned shift,
                            std::size_t first, std::size_t end) {
    std::uint64_t sum = 0;
    for (std::size_t i = first; i < end; ++i) {
      sum += Count::count(bits[i] & window_word(pattern, i, shift));
    }
    return sum;
  }

  static void cut(std::uint64_t* out, const std::uint64_t* bits, const std::uint64_t* pattern,
                  unsigned shift, std::size_t first, std::size_t end) {
    for (std::size_t i = first; i < end; ++i) out[i] = bits[i] & ~window_word(pattern, i, shift);
  }
};

}  // namespace
}  // namespace tilvane
