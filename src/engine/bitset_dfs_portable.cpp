// The bitset search for any x86-64 (or other) processor: word by word, with
// a branch-free population count that needs no special instruction.
#include <cstdint>
#include <cstring>

#include "engine/bitset_dfs.h"
#include "engine/bitset_search.h"
#include "engine/portable_popcount.h"

namespace tilvane {
namespace {

std::uint64_t load_word(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

struct PortableOps {
  template <unsigned W>
  static std::uint32_t gain(const std::uint64_t* bits, const std::uint8_t* mask) {
    std::uint32_t sum = 0;
#pragma GCC unroll 16
    for (unsigned i = 0; i < W; ++i) sum += portable_popcount(bits[i] & load_word(mask + 8 * i));
    return sum;
  }

  template <unsigned W>
  static void cut(std::uint64_t* out, const std::uint64_t* bits, const std::uint8_t* mask) {
#pragma GCC unroll 16
    for (unsigned i = 0; i < W; ++i) out[i] = bits[i] & ~load_word(mask + 8 * i);
  }

  template <unsigned W>
  static bool empty_without(const std::uint64_t* bits, const std::uint8_t* a,
                            const std::uint8_t* b) {
    std::uint64_t any = 0;
#pragma GCC unroll 16
    for (unsigned i = 0; i < W; ++i) any |= bits[i] & ~load_word(a + 8 * i) & ~load_word(b + 8 * i);
    return any == 0;
  }
};

template <unsigned W>
BitsetOutcome run_words(const ClassPatterns& patterns, std::uint64_t max_nodes) {
  BitsetDfs<W, PortableOps> dfs(patterns, max_nodes);
  return dfs.run();
}

}  // namespace

BitsetOutcome bitset_dfs_portable(const ClassPatterns& patterns, std::uint64_t max_nodes) {
  switch (patterns.words) {
    case 1:
      return run_words<1>(patterns, max_nodes);
    case 2:
      return run_words<2>(patterns, max_nodes);
    case 3:
      return run_words<3>(patterns, max_nodes);
    case 4:
      return run_words<4>(patterns, max_nodes);
    case 5:
      return run_words<5>(patterns, max_nodes);
    case 6:
      return run_words<6>(patterns, max_nodes);
    case 7:
      return run_words<7>(patterns, max_nodes);
    case 8:
      return run_words<8>(patterns, max_nodes);
    case 9:
      return run_words<9>(patterns, max_nodes);
    case 10:
      return run_words<10>(patterns, max_nodes);
    case 11:
      return run_words<11>(patterns, max_nodes);
    case 12:
      return run_words<12>(patterns, max_nodes);
    case 13:
      return run_words<13>(patterns, max_nodes);
    case 14:
      return run_words<14>(patterns, max_nodes);
    case 15:
      return run_words<15>(patterns, max_nodes);
    default:
      return run_words<16>(patterns, max_nodes);
  }
}

}  // namespace tilvane
