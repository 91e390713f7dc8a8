// The bitset search with AVX2: bitsets of four words per register, counted
// with the nibble lookup (VPSHUFB) and summed per word (VPSADBW). Everything
// here is compiled for AVX2 and runs only where the processor has it (see
// SimdLevel).
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

// Bits set in each 64-bit lane of v.
inline __m256i popcount_lanes(__m256i v) {
  const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2,
                                         1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i low = _mm256_set1_epi8(0x0F);
  const __m256i counts =
      _mm256_add_epi8(_mm256_shuffle_epi8(table, _mm256_and_si256(v, low)),
                      _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(v, 4), low)));
  return _mm256_sad_epu8(counts, _mm256_setzero_si256());
}

struct Avx2Ops {
  template <unsigned W>
  static std::uint32_t gain(const std::uint64_t* bits, const std::uint8_t* mask) {
    if constexpr (W >= 4) {
      __m256i sum = _mm256_setzero_si256();
#pragma GCC unroll 16
      for (unsigned i = 0; i < W; i += 4) {
        sum = _mm256_add_epi64(
            sum, popcount_lanes(_mm256_and_si256(
                     _mm256_load_si256(reinterpret_cast<const __m256i*>(bits + i)),
                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + 8 * i)))));
      }
      const __m128i half =
          _mm_add_epi64(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
      return static_cast<std::uint32_t>(_mm_cvtsi128_si64(half) + _mm_extract_epi64(half, 1));
    } else {
      return ScalarOps<HardwareCount>::gain<W>(bits, mask);
    }
  }

  template <unsigned W>
  static void cut(std::uint64_t* out, const std::uint64_t* bits, const std::uint8_t* mask) {
    if constexpr (W >= 4) {
#pragma GCC unroll 16
      for (unsigned i = 0; i < W; i += 4) {
        _mm256_store_si256(
            reinterpret_cast<__m256i*>(out + i),
            _mm256_andnot_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + 8 * i)),
                                _mm256_load_si256(reinterpret_cast<const __m256i*>(bits + i))));
      }
    } else {
      ScalarOps<HardwareCount>::cut<W>(out, bits, mask);
    }
  }

  template <unsigned W>
  static bool empty_without(const std::uint64_t* bits, const std::uint8_t* a,
                            const std::uint8_t* b) {
    if constexpr (W >= 4) {
      __m256i any = _mm256_setzero_si256();
#pragma GCC unroll 16
      for (unsigned i = 0; i < W; i += 4) {
        const __m256i both =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 8 * i)),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 8 * i)));
        any = _mm256_or_si256(
            any, _mm256_andnot_si256(
                     both, _mm256_load_si256(reinterpret_cast<const __m256i*>(bits + i))));
      }
      return _mm256_testz_si256(any, any) != 0;
    } else {
      return ScalarOps<HardwareCount>::empty_without<W>(bits, a, b);
    }
  }
};

}  // namespace

BitsetOutcome bitset_dfs_avx2(const BitsetInput& input, std::uint64_t max_nodes) {
  return run_bitset_dfs<Avx2Ops, 1, 2, 4, 8, 12, 16>(input, max_nodes);
}

const WideBitsetKernels& wide_bitset_kernels_avx2() {
  using Loops = WideLoops<HardwareCount>;
  static constexpr WideBitsetKernels kernels{Loops::gain, Loops::cut};
  return kernels;
}

}  // namespace tilvane

#else

namespace tilvane {

BitsetOutcome bitset_dfs_avx2(const BitsetInput& input, std::uint64_t max_nodes) {
  return bitset_dfs_portable(input, max_nodes);
}

const WideBitsetKernels& wide_bitset_kernels_avx2() { return wide_bitset_kernels_portable(); }

}  // namespace tilvane

#endif
