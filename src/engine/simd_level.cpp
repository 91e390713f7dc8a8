#include "engine/simd_level.h"

namespace tilvane {
namespace {

// __builtin_cpu_supports also checks that the operating system saves the
// vector registers (XCR0), so a level reported here is safe to use.
SimdLevel probe_simd_level() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  // Both vector levels are compiled with BMI and BMI2 as well (the compiler
  // may use their shifts and bit scans anywhere in those units).
  const bool base = __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi") &&
                    __builtin_cpu_supports("bmi2");
  if (base && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vpopcntdq")) {
    return SimdLevel::Avx512;
  }
  if (base && __builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
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
