// The vector instruction sets the fast search can use, and which of them the
// processor running the program offers. One binary serves every x86-64
// machine: the wide paths are compiled for their own instruction sets and
// chosen at run time.
#pragma once

namespace tilvane {

enum class SimdLevel {
  Portable,  // baseline x86-64, or any other processor
  Avx2,      // AVX2 with POPCNT, BMI and BMI2
  Avx512,    // AVX-512 F, BW, VL and VPOPCNTDQ, with POPCNT, BMI and BMI2
};

// The widest level this processor and operating system support; computed
// once and then cached.
SimdLevel detected_simd_level();

// True when code compiled for the level can run here.
bool simd_level_supported(SimdLevel level);

// "portable", "avx2" or "avx512".
const char* simd_level_name(SimdLevel level);

}  // namespace tilvane
