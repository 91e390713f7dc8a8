#include "engine/wide_bitset_kernels.h"

namespace tilvane {

const WideBitsetKernels& wide_bitset_kernels(SimdLevel level) {
  switch (level) {
    case SimdLevel::Avx512:
      return wide_bitset_kernels_avx512();
    case SimdLevel::Avx2:
      return wide_bitset_kernels_avx2();
    case SimdLevel::Portable:
      break;
  }
  return wide_bitset_kernels_portable();
}

}  // namespace tilvane
