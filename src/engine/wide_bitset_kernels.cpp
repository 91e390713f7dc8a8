#include "engine/wide_bitset_kernels.h"

#include "engine/portable_popcount.h"

namespace tilvane {
namespace {

// Bits shift..shift+63 of the two words low, high; for shift 0 the second
// term is 0, since (high << 1) has bit 0 clear.
[[gnu::always_inline]] inline std::uint64_t window_word(const std::uint64_t* pattern, std::size_t i,
                                                        unsigned shift) {
  return (pattern[i] >> shift) | ((pattern[i + 1] << 1) << (63 - shift));
}

// The loop bodies, inlined into each level's functions below so that they
// are compiled for that level's instructions (the hardware count becomes
// POPCNT, or VPOPCNTQ once the compiler vectorises the loop).
template <bool kHardwareCount>
[[gnu::always_inline]] inline std::uint64_t gain_body(const std::uint64_t* bits,
                                                      const std::uint64_t* pattern, unsigned shift,
                                                      std::size_t first, std::size_t end) {
  std::uint64_t sum = 0;
  for (std::size_t i = first; i < end; ++i) {
    const std::uint64_t both = bits[i] & window_word(pattern, i, shift);
    if constexpr (kHardwareCount) {
      sum += static_cast<std::uint64_t>(__builtin_popcountll(both));
    } else {
      sum += portable_popcount(both);
    }
  }
  return sum;
}

[[gnu::always_inline]] inline void cut_body(std::uint64_t* out, const std::uint64_t* bits,
                                            const std::uint64_t* pattern, unsigned shift,
                                            std::size_t first, std::size_t end) {
  for (std::size_t i = first; i < end; ++i) out[i] = bits[i] & ~window_word(pattern, i, shift);
}

std::uint64_t gain_portable(const std::uint64_t* bits, const std::uint64_t* pattern, unsigned shift,
                            std::size_t first, std::size_t end) {
  return gain_body<false>(bits, pattern, shift, first, end);
}

void cut_portable(std::uint64_t* out, const std::uint64_t* bits, const std::uint64_t* pattern,
                  unsigned shift, std::size_t first, std::size_t end) {
  cut_body(out, bits, pattern, shift, first, end);
}

#if defined(__x86_64__)
[[gnu::target("avx2,popcnt,bmi2")]] std::uint64_t gain_avx2(const std::uint64_t* bits,
                                                            const std::uint64_t* pattern,
                                                            unsigned shift, std::size_t first,
                                                            std::size_t end) {
  return gain_body<true>(bits, pattern, shift, first, end);
}

[[gnu::target("avx2,popcnt,bmi2")]] void cut_avx2(std::uint64_t* out, const std::uint64_t* bits,
                                                  const std::uint64_t* pattern, unsigned shift,
                                                  std::size_t first, std::size_t end) {
  cut_body(out, bits, pattern, shift, first, end);
}

[[gnu::target("avx512f,avx512bw,avx512vl,avx512vpopcntdq,popcnt,bmi2")]] std::uint64_t gain_avx512(
    const std::uint64_t* bits, const std::uint64_t* pattern, unsigned shift, std::size_t first,
    std::size_t end) {
  return gain_body<true>(bits, pattern, shift, first, end);
}

[[gnu::target("avx512f,avx512bw,avx512vl,avx512vpopcntdq,popcnt,bmi2")]] void cut_avx512(
    std::uint64_t* out, const std::uint64_t* bits, const std::uint64_t* pattern, unsigned shift,
    std::size_t first, std::size_t end) {
  cut_body(out, bits, pattern, shift, first, end);
}
#endif

}  // namespace

const WideBitsetKernels& wide_bitset_kernels(SimdLevel level) {
  static constexpr WideBitsetKernels kPortable{gain_portable, cut_portable};
#if defined(__x86_64__)
  static constexpr WideBitsetKernels kAvx2{gain_avx2, cut_avx2};
  static constexpr WideBitsetKernels kAvx512{gain_avx512, cut_avx512};
  switch (level) {
    case SimdLevel::Avx512:
      return kAvx512;
    case SimdLevel::Avx2:
      return kAvx2;
    case SimdLevel::Portable:
      return kPortable;
  }
#else
  (void)level;
#endif
  return kPortable;
}

}  // namespace tilvane
