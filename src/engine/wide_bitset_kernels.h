// The two loops of the wide bitset search, compiled for each instruction-set
// level. A class mask is never stored: its word i is read out of the
// modulus' pattern (a bit at every multiple of the modulus) as the 64 bits
// that start at bit shift of pattern word i, shift below 64.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/simd_level.h"

namespace tilvane {

struct WideBitsetKernels {
  // The number of bits set in both bits[i] and the mask word i, over the
  // words first <= i < end.
  std::uint64_t (*gain)(const std::uint64_t* bits, const std::uint64_t* pattern, unsigned shift,
                        std::size_t first, std::size_t end);
  // out[i] = bits[i] without the bits of mask word i, over first <= i < end.
  void (*cut)(std::uint64_t* out, const std::uint64_t* bits, const std::uint64_t* pattern,
              unsigned shift, std::size_t first, std::size_t end);
};

// The loops for a level, which must be supported by the processor.
const WideBitsetKernels& wide_bitset_kernels(SimdLevel level);

// The loops compiled for each level (in the kernel units).
const WideBitsetKernels& wide_bitset_kernels_portable();
const WideBitsetKernels& wide_bitset_kernels_avx2();
const WideBitsetKernels& wide_bitset_kernels_avx512();

}  // namespace tilvane
