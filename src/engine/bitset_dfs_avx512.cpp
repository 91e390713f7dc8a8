// The bitset search with AVX-512: a bitset of up to 512 residues is one
// register, and the population count of a masked bitset is one instruction
// per register (VPOPCNTQ). Everything here is compiled for AVX-512 and runs
// only where the processor has it (see SimdLevel).
#include <cstdint>
#include <cstring>

#include "engine/bitset_search.h"
#include "engine/class_patterns.h"
#include "engine/residue_search.h"
#include "engine/search_abort.h"

#if defined(__x86_64__)
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512vpopcntdq,popcnt,bmi,bmi2")

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
      std::uint32_t sum = 0;
#pragma GCC unroll 16
      for (unsigned i = 0; i < W; ++i) {
        std::uint64_t word;
        std::memcpy(&word, mask + 8 * i, sizeof word);
        sum += static_cast<std::uint32_t>(__builtin_popcountll(bits[i] & word));
      }
      return sum;
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
#pragma GCC unroll 16
      for (unsigned i = 0; i < W; ++i) {
        std::uint64_t word;
        std::memcpy(&word, mask + 8 * i, sizeof word);
        out[i] = bits[i] & ~word;
      }
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
      std::uint64_t any = 0;
#pragma GCC unroll 16
      for (unsigned i = 0; i < W; ++i) {
        std::uint64_t wa;
        std::uint64_t wb;
        std::memcpy(&wa, a + 8 * i, sizeof wa);
        std::memcpy(&wb, b + 8 * i, sizeof wb);
        any |= bits[i] & ~wa & ~wb;
      }
      return any == 0;
    }
  }
};

template <unsigned W>
BitsetOutcome run_words(const ClassPatterns& patterns, std::uint64_t max_nodes) {
  BitsetDfs<W, Avx512Ops> dfs(patterns, max_nodes);
  return dfs.run();
}

}  // namespace

BitsetOutcome bitset_dfs_avx512(const ClassPatterns& patterns, std::uint64_t max_nodes) {
  switch (patterns.words) {
    case 1:
      return run_words<1>(patterns, max_nodes);
    case 2:
      return run_words<2>(patterns, max_nodes);
    case 4:
      return run_words<4>(patterns, max_nodes);
    case 8:
      return run_words<8>(patterns, max_nodes);
    default:
      return run_words<16>(patterns, max_nodes);
  }
}

}  // namespace tilvane

#pragma GCC pop_options

#else

namespace tilvane {

BitsetOutcome bitset_dfs_avx512(const ClassPatterns& patterns, std::uint64_t max_nodes) {
  return bitset_dfs_portable(patterns, max_nodes);
}

}  // namespace tilvane

#endif
