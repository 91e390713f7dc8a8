#include "engine/wide_bitset_search.h"

#include <algorithm>
#include <vector>

#include "engine/residue_dfs.h"
#include "engine/search_abort.h"
#include "engine/wide_bitset_kernels.h"

namespace tilvane {
namespace {

// The wide search is chosen while moduli <= ratio * (sum of 1/m): a node
// costs about P/64 word steps per modulus here against P/m counter steps
// per modulus in the counter search. The ratios were measured on sets of 6
// to 64 moduli with periods from 2520 to 18378360; a word step is cheapest
// with VPOPCNTQ and dearest with the population count done in arithmetic.
double wide_cost_ratio(SimdLevel level) {
  switch (level) {
    case SimdLevel::Avx512:
      return 24.0;
    case SimdLevel::Avx2:
      return 16.0;
    case SimdLevel::Portable:
      return 12.0;
  }
  return 12.0;
}

std::size_t words_for(std::uint64_t period) { return static_cast<std::size_t>((period + 63) / 64); }

// Pattern words of a modulus: the window of class r starts at bit m - r
// (1 to m) and reads one word past the last, so m/64 + 2 words more than
// the bitset.
std::size_t pattern_words(std::size_t words, std::uint64_t m) {
  return words + static_cast<std::size_t>(m / 64) + 2;
}

// Bit i of pattern j is set when i is a multiple of m_j, so the mask of
// class r is the pattern read from bit m_j - r on. Each depth has its own
// bitset, so nothing is undone; the words left of the word of the smallest
// uncovered residue are all zero and are neither read nor copied below it.
class WideState {
 public:
  WideState(std::span<const std::uint64_t> moduli, std::uint64_t period,
            const WideBitsetKernels& kernels)
      : kernels_(kernels),
        moduli_(moduli),
        period_(period),
        words_(words_for(period)),
        levels_((moduli.size() + 1) * words_),
        pattern_starts_(moduli.size()) {
    std::size_t total = 0;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      pattern_starts_[j] = total;
      total += pattern_words(words_, moduli_[j]);
    }
    patterns_.assign(total, 0);
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      fill_pattern(patterns_.data() + pattern_starts_[j], pattern_words(words_, moduli_[j]),
                   moduli_[j]);
    }
  }

  void cover_first() {
    std::uint64_t* root = levels_.data();
    std::fill(root, root + words_, ~0ULL);
    if (period_ % 64 != 0) root[words_ - 1] = (1ULL << (period_ % 64)) - 1;
    const Window w = window(0, 0);
    kernels_.cut(root, root, w.pattern, w.shift, 0, words_);
  }

  std::uint64_t first_uncovered(std::size_t depth, std::uint64_t from) const {
    const std::uint64_t* bits = level(depth);
    std::size_t word = static_cast<std::size_t>(from / 64);
    while (bits[word] == 0) {
      if (++word == words_) search_abort("uncovered count and bitset disagree");
    }
    return 64 * word + static_cast<std::uint64_t>(__builtin_ctzll(bits[word]));
  }

  std::uint64_t gain(std::size_t depth, std::size_t j, std::uint64_t x) const {
    const Window w = window(j, x % moduli_[j]);
    return kernels_.gain(level(depth), w.pattern, w.shift, static_cast<std::size_t>(x / 64),
                         words_);
  }

  void cover(std::size_t depth, std::size_t j, std::uint64_t x) {
    const Window w = window(j, x % moduli_[j]);
    kernels_.cut(levels_.data() + (depth + 1) * words_, level(depth), w.pattern, w.shift,
                 static_cast<std::size_t>(x / 64), words_);
  }

  void uncover(std::size_t, std::size_t, std::uint64_t) {}

 private:
  // Where the mask of class r of modulus j is read: a pattern pointer moved
  // to the right word, and the bit shift within it.
  struct Window {
    const std::uint64_t* pattern;
    unsigned shift;
  };

  // Bit b of the words set exactly when m divides b. The words repeat every
  // m / gcd(m, 64) words, so only that many are set bit by bit and the rest
  // are copied: a pattern costs a pass over its words, not one step per
  // multiple of m.
  static void fill_pattern(std::uint64_t* pattern, std::size_t words, std::uint64_t m) {
    const std::uint64_t repeat = m / (std::uint64_t{1} << std::min(__builtin_ctzll(m), 6));
    const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(repeat, words));
    for (std::uint64_t b = 0; b < 64 * first; b += m) pattern[b / 64] |= 1ULL << (b % 64);
    for (std::size_t w = first; w < words; ++w) pattern[w] = pattern[w - first];
  }

  Window window(std::size_t j, std::uint64_t r) const {
    const std::uint64_t start = moduli_[j] - r;
    return {patterns_.data() + pattern_starts_[j] + start / 64, static_cast<unsigned>(start % 64)};
  }

  const std::uint64_t* level(std::size_t depth) const { return levels_.data() + depth * words_; }

  const WideBitsetKernels& kernels_;
  std::span<const std::uint64_t> moduli_;
  std::uint64_t period_;
  std::size_t words_;
  std::vector<std::uint64_t> levels_;
  std::vector<std::uint64_t> patterns_;
  std::vector<std::size_t> pattern_starts_;
};

}  // namespace

std::uint64_t wide_bitset_memory(std::span<const std::uint64_t> moduli, std::uint64_t period) {
  const std::size_t words = words_for(period);
  std::uint64_t total = (moduli.size() + 1) * words;
  for (std::uint64_t m : moduli) total += pattern_words(words, m);
  return 8 * total;
}

bool wide_bitset_search_fits(std::span<const std::uint64_t> moduli, std::uint64_t period,
                             SimdLevel level) {
  if (moduli.empty() || moduli.size() > kWideBitsetModuliLimit) return false;
  if (wide_bitset_memory(moduli, period) > kWideBitsetMemoryLimit) return false;
  double reciprocals = 0;
  for (std::uint64_t m : moduli) reciprocals += 1.0 / static_cast<double>(m);
  return static_cast<double>(moduli.size()) <= wide_cost_ratio(level) * reciprocals;
}

CoverSearch wide_bitset_search(std::span<const std::uint64_t> moduli, std::uint64_t period,
                               std::uint64_t max_nodes, SimdLevel level) {
  WideState state(moduli, period, wide_bitset_kernels(level));
  ResidueDfs<WideState> dfs(moduli, period, max_nodes, state);
  return dfs.run();
}

}  // namespace tilvane
