// Everything the searches run on a processor without AVX2: the bitset
// search word by word and the wide search's loops, with a population count
// that needs no special instruction.
#include <cstdint>

#include "engine/bitset_dfs.h"
#include "engine/bitset_search.h"
#include "engine/scalar_ops.h"
#include "engine/wide_bitset_kernels.h"

namespace tilvane {

BitsetOutcome bitset_dfs_portable(const BitsetInput& input, std::uint64_t max_nodes) {
  return run_bitset_dfs<ScalarOps<PortableCount>, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                        16>(input, max_nodes);
}

const WideBitsetKernels& wide_bitset_kernels_portable() {
  using Loops = WideLoops<PortableCount>;
  static constexpr WideBitsetKernels kernels{Loops::gain, Loops::cut};
  return kernels;
}

}  // namespace tilvane
