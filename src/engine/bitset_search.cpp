#include "engine/bitset_search.h"

namespace tilvane {
namespace {

// Words per bitset for each level: the portable code works word by word, the
// vector code in whole registers of 4 or 8 words once the period passes 256.
std::uint32_t bitset_words(std::uint64_t period, SimdLevel level) {
  const auto exact = static_cast<std::uint32_t>((period + 63) / 64);
  switch (level) {
    case SimdLevel::Portable:
      return exact;
    case SimdLevel::Avx2:
      return exact <= 2 ? exact : (exact + 3) / 4 * 4;
    case SimdLevel::Avx512:
      return exact <= 4 ? (exact <= 2 ? exact : 4) : (exact + 7) / 8 * 8;
  }
  return exact;
}

}  // namespace

bool bitset_search_fits(std::size_t moduli_count, std::uint64_t period) {
  return period <= kBitsetPeriodLimit && moduli_count <= kBitsetModuliLimit;
}

CoverSearch bitset_search(std::span<const std::uint64_t> moduli, std::uint64_t period,
                          std::uint64_t max_nodes, SimdLevel level) {
  const ClassPatterns patterns =
      build_class_patterns(moduli, static_cast<std::uint32_t>(period), bitset_words(period, level));
  const BitsetInput input{patterns.moduli.data(),
                          static_cast<std::uint32_t>(patterns.moduli.size()), patterns.period,
                          patterns.words, patterns.storage.data()};
  BitsetOutcome run;
  switch (level) {
    case SimdLevel::Avx512:
      run = bitset_dfs_avx512(input, max_nodes);
      break;
    case SimdLevel::Avx2:
      run = bitset_dfs_avx2(input, max_nodes);
      break;
    case SimdLevel::Portable:
      run = bitset_dfs_portable(input, max_nodes);
      break;
  }
  CoverSearch result;
  result.outcome = run.outcome;
  result.nodes = run.nodes;
  if (run.outcome == SearchOutcome::Found) {
    result.residues.assign(run.residues, run.residues + moduli.size());
  }
  return result;
}

}  // namespace tilvane
