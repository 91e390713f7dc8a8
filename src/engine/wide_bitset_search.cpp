#include "engine/wide_bitset_search.h"

#include <algorithm>
#include <functional>
#include <vector>

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

// The bookkeeping is that of the counter search: the smallest uncovered
// residue is searched from the parent's, the capacity is carried down, the
// gain of a class is its number of newly covered residues, and children that
// end at once are counted without a call. Bit i of pattern j is set when i
// is a multiple of m_j, so the mask of class r is the pattern read from bit
// m_j - r on. Each depth has its own bitset; the words left of the word of
// the smallest uncovered residue are all zero and are neither read nor
// copied below it.
class WideDfs {
 public:
  WideDfs(std::span<const std::uint64_t> moduli, std::uint64_t period, std::uint64_t max_nodes,
          const WideBitsetKernels& kernels)
      : kernels_(kernels),
        moduli_(moduli.begin(), moduli.end()),
        period_(period),
        words_(words_for(period)),
        max_nodes_(max_nodes),
        levels_((moduli.size() + 1) * words_),
        pattern_starts_(moduli.size()),
        shares_(moduli.size()),
        residues_(moduli.size(), 0),
        assigned_(moduli.size(), 0),
        keys_(moduli.size() * moduli.size()) {
    std::size_t total = 0;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      pattern_starts_[j] = total;
      total += pattern_words(words_, moduli_[j]);
      shares_[j] = period_ / moduli_[j];
    }
    patterns_.assign(total, 0);
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      fill_pattern(patterns_.data() + pattern_starts_[j], pattern_words(words_, moduli_[j]),
                   moduli_[j]);
    }
  }

  CoverSearch run() {
    std::uint64_t* root = levels_.data();
    std::fill(root, root + words_, ~0ULL);
    if (period_ % 64 != 0) root[words_ - 1] = (1ULL << (period_ % 64)) - 1;
    cut(root, root, 0, 0, 0);
    assigned_[0] = 1;
    const std::uint64_t uncovered = period_ - shares_[0];
    std::uint64_t capacity = 0;
    for (std::size_t j = 1; j < moduli_.size(); ++j) capacity += shares_[j];

    CoverSearch result;
    if (max_nodes_ == 0) {
      result.outcome = SearchOutcome::BudgetExceeded;
    } else {
      nodes_ = 1;
      if (uncovered == 0) {
        result.outcome = SearchOutcome::Found;
      } else if (capacity < uncovered) {
        result.outcome = SearchOutcome::NotFound;
      } else {
        result.outcome = explore(0, 0, uncovered, capacity);
      }
    }
    result.nodes = nodes_;
    if (result.outcome == SearchOutcome::Found) {
      result.residues.resize(moduli_.size());
      for (std::size_t j = 0; j < moduli_.size(); ++j) {
        result.residues[j] = assigned_[j] != 0 ? residues_[j] : 0;
      }
    }
    return result;
  }

 private:
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

  // Where the mask of class r of modulus j is read: a pattern pointer moved
  // to the right word, and the bit shift within it.
  struct Window {
    const std::uint64_t* pattern;
    unsigned shift;
  };

  Window window(std::size_t j, std::uint64_t r) const {
    const std::uint64_t start = moduli_[j] - r;
    return {patterns_.data() + pattern_starts_[j] + start / 64, static_cast<unsigned>(start % 64)};
  }

  void cut(std::uint64_t* out, const std::uint64_t* bits, std::size_t j, std::uint64_t r,
           std::size_t first) const {
    const Window w = window(j, r);
    kernels_.cut(out, bits, w.pattern, w.shift, first, words_);
  }

  // One inner node, already counted, with residues left uncovered and
  // enough capacity; from_word holds or precedes its first uncovered one.
  SearchOutcome explore(std::size_t depth, std::size_t from_word, std::uint64_t uncovered,
                        std::uint64_t capacity) {
    const std::uint64_t* bits = levels_.data() + depth * words_;
    std::size_t word = from_word;
    while (bits[word] == 0) {
      if (++word == words_) search_abort("uncovered count and bitset disagree");
    }
    const std::uint64_t x = 64 * word + static_cast<std::uint64_t>(__builtin_ctzll(bits[word]));

    // Key: gain descending, then index ascending; unique, so any sort keeps
    // the literal search's stable order.
    std::uint64_t* keys = keys_.data() + depth * moduli_.size();
    std::size_t count = 0;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (assigned_[j] != 0) continue;
      const Window w = window(j, x % moduli_[j]);
      const std::uint64_t gain = kernels_.gain(bits, w.pattern, w.shift, word, words_);
      keys[count++] = gain << 8 | (255 - j);
    }
    std::sort(keys, keys + count, std::greater<>());

    std::uint64_t* child = levels_.data() + (depth + 1) * words_;
    for (std::size_t c = 0; c < count; ++c) {
      if (nodes_ >= max_nodes_) return SearchOutcome::BudgetExceeded;
      ++nodes_;
      const std::size_t j = 255 - (keys[c] & 255);
      const std::uint64_t r = x % moduli_[j];
      const std::uint64_t left = uncovered - (keys[c] >> 8);
      if (left == 0) {
        assigned_[j] = 1;
        residues_[j] = r;
        return SearchOutcome::Found;
      }
      if (capacity - shares_[j] < left) continue;
      assigned_[j] = 1;
      residues_[j] = r;
      cut(child, bits, j, r, word);
      const SearchOutcome s = explore(depth + 1, word, left, capacity - shares_[j]);
      if (s == SearchOutcome::Found) return s;
      assigned_[j] = 0;
      if (s == SearchOutcome::BudgetExceeded) return s;
    }
    return SearchOutcome::NotFound;
  }

  const WideBitsetKernels& kernels_;
  std::vector<std::uint64_t> moduli_;
  std::uint64_t period_;
  std::size_t words_;
  std::uint64_t max_nodes_;
  std::uint64_t nodes_ = 0;
  std::vector<std::uint64_t> levels_;
  std::vector<std::uint64_t> patterns_;
  std::vector<std::size_t> pattern_starts_;
  std::vector<std::uint64_t> shares_;
  std::vector<std::uint64_t> residues_;
  std::vector<std::uint8_t> assigned_;
  std::vector<std::uint64_t> keys_;
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
  WideDfs dfs(moduli, period, max_nodes, wide_bitset_kernels(level));
  return dfs.run();
}

}  // namespace tilvane
