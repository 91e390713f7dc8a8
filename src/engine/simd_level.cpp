#include "engine/simd_level.h"

namespace tilvane {
namespace {

// __builtin_cpu_supports also checks that the operating system saves the
// vector registers (XCR0), so a level reported here is safe to use.
SimdLevel probe_simd_level() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vpopcntdq") &&
      __builtin_cpu_supports("popcnt")) {
    return SimdLevel::Avx512;
  }
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt")) return SimdLevel::Avx2;
#endif
  return SimdLevel::Portable;
}

}  // namespace

SimdLevel detected_simd_level() {
  static const SimdLevel level = probe_simd_level();
  return level;
}

bool simd_level_supported(SimdLevel level) {
  return static_cast<int>(level) <= static_cast<int>(detected_simd_level());
}

const char* simd_level_name(SimdLevel level) {
  switch (level) {
    case SimdLevel::Portable:
      return "portable";
    case SimdLevel::Avx2:
      return "avx2";
    case SimdLevel::Avx512:
      return "avx512";
  }
  return "portable";
}

}  // namespace tilvane
