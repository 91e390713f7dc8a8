// The bitset search with AVX-512: a bitset of up to 512 residues is one
// register, and the population count of a masked bitset is one instruction
// per register (VPOPCNTQ). Everything here is compiled for AVX-512 and runs
// only where the processor has it (see SimdLevel).
#include <cstdint>
#include <cstring>

#include "engine/bitset_search.h"
#include "engine/class_patterns.h"
#include "engine/residue_search.h"
#include "engine/scalar_ops.h"
#include "engine/wide_bitset_kernels.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include "engine/bitset_dfs.h"

namespace tilvane {
namespace {

// Vector types of the compiler: the bit operations below are written with
// operators, and the lanes are summed by shuffles of halves.
typedef std::uint64_t Lanes8 __attribute__((vector_size(64)));
typedef std::uint64_t Lanes4 __attribute__((vector_size(32)));
typedef std::uint64_t Lanes2 __attribute__((vector_size(16)));

inline Lanes8 load8(const void* p) { return reinterpret_cast<Lanes8>(_mm512_loadu_si512(p)); }
inline Lanes4 load4(const void* p) {
  return reinterpret_cast<Lanes4>(_mm256_loadu_si256(static_cast<const __m256i*>(p)));
}
inline Lanes8 popcount8(Lanes8 v) {
  return reinterpret_cast<Lanes8>(_mm512_popcnt_epi64(reinterpret_cast<__m512i>(v)));
}
inline Lanes4 popcount4(Lanes4 v) {
  return reinterpret_cast<Lanes4>(_mm256_popcnt_epi64(reinterpret_cast<__m256i>(v)));
}
inline std::uint64_t sum4(Lanes4 v) {
  const Lanes2 half = __builtin_shufflevector(v, v, 0, 1) + __builtin_shufflevector(v, v, 2, 3);
  return half[0] + half[1];
}
inline std::uint64_t sum8(Lanes8 v) {
  return sum4(__builtin_shufflevector(v, v, 0, 1, 2, 3) +
              __builtin_shufflevector(v, v, 4, 5, 6, 7));
}

struct Avx512Ops {
  template <unsigned W>
  static std::uint32_t gain(const std::uint64_t* bits, const std::uint8_t* mask) {
    if constexpr (W >= 8) {
      Lanes8 sum = popcount8(load8(bits) & load8(mask));
#pragma GCC unroll 16
      for (unsigned i = 8; i < W; i += 8) sum += popcount8(load8(bits + i) & load8(mask + 8 * i));
      return static_cast<std::uint32_t>(sum8(sum));
    } else if constexpr (W == 4) {
      return static_cast<std::uint32_t>(sum4(popcount4(load4(bits) & load4(mask))));
    } else {
      return ScalarOps<HardwareCount>::gain<W>(bits, mask);
    }
  }

  template <unsigned W>
  static void cut(std::uint64_t* out, const std::uint64_t* bits, const std::uint8_t* mask) {
    if constexpr (W >= 8) {
#pragma GCC unroll 16
      for (unsigned i = 0; i < W; i += 8) {
        *reinterpret_cast<Lanes8*>(out + i) = load8(bits + i) & ~load8(mask + 8 * i);
      }
    } else if constexpr (W == 4) {
      *reinterpret_cast<Lanes4*>(out) = load4(bits) & ~load4(mask);
    } else {
      ScalarOps<HardwareCount>::cut<W>(out, bits, mask);
    }
  }

  template <unsigned W>
  static bool empty_without(const std::uint64_t* bits, const std::uint8_t* a,
                            const std::uint8_t* b) {
    if constexpr (W >= 8) {
      Lanes8 any = load8(bits) & ~(load8(a) | load8(b));
#pragma GCC unroll 16
      for (unsigned i = 8; i < W; i += 8) {
        any |= load8(bits + i) & ~(load8(a + 8 * i) | load8(b + 8 * i));
      }
      return _mm512_test_epi64_mask(reinterpret_cast<__m512i>(any),
                                    reinterpret_cast<__m512i>(any)) == 0;
    } else if constexpr (W == 4) {
      const Lanes4 any = load4(bits) & ~(load4(a) | load4(b));
      return _mm256_testz_si256(reinterpret_cast<__m256i>(any), reinterpret_cast<__m256i>(any)) !=
             0;
    } else {
      return ScalarOps<HardwareCount>::empty_without<W>(bits, a, b);
    }
  }
};

}  // namespace

BitsetOutcome bitset_dfs_avx512(const BitsetInput& input, std::uint64_t max_nodes) {
  return run_bitset_dfs<Avx512Ops, 1, 2, 4, 8, 16>(input, max_nodes);
}

const WideBitsetKernels& wide_bitset_kernels_avx512() {
  using Loops = WideLoops<HardwareCount>;
  static constexpr WideBitsetKernels kernels{Loops::gain, Loops::cut};
  return kernels;
}

}  // namespace tilvane

#else

namespace tilvane {

BitsetOutcome bitset_dfs_avx512(const BitsetInput& input, std::uint64_t max_nodes) {
  return bitset_dfs_portable(input, max_nodes);
}

const WideBitsetKernels& wide_bitset_kernels_avx512() { return wide_bitset_kernels_portable(); }

}  // namespace tilvane

#endif
