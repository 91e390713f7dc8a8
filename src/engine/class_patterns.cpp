#include "engine/class_patterns.h"

namespace tilvane {

// For modulus m the pattern has a bit at every position t with t + 1 a
// multiple of m. The window that starts at bit m - 1 - r then has its bits
// exactly at r, r + m, r + 2m, ...: the class r. Windows start at any bit,
// so each pattern is stored eight times, copy b shifted by b bits, and the
// window at start s is an unaligned byte load at s / 8 from copy s mod 8.
// Each copy is long enough for a window of the full bitset at the largest
// start, m - 1.
ClassPatterns build_class_patterns(std::span<const std::uint64_t> moduli, std::uint32_t period,
                                   std::uint32_t words) {
  ClassPatterns p;
  p.period = period;
  p.words = words;
  p.moduli.reserve(moduli.size());
  std::size_t total_words = 0;
  for (std::uint64_t value : moduli) {
    const auto m = static_cast<std::uint32_t>(value);
    ClassPatterns::Modulus entry;
    entry.modulus = m;
    entry.share = period / m;
    entry.reciprocal = ((std::uint64_t{1} << 22) + m - 1) / m;
    const std::uint32_t copy_words = (m + 63) / 64 + words + 1;
    entry.copy_bytes = copy_words * 8;
    entry.offset = total_words * 8;
    total_words += std::size_t{8} * copy_words;
    p.moduli.push_back(entry);
  }
  p.storage.assign(total_words, 0);

  std::vector<std::uint64_t> base;
  for (const ClassPatterns::Modulus& entry : p.moduli) {
    const std::uint32_t copy_words = entry.copy_bytes / 8;
    base.assign(copy_words + 1, 0);
    const std::uint64_t bits = std::uint64_t{64} * base.size();
    for (std::uint64_t t = entry.modulus - 1; t < bits; t += entry.modulus) {
      base[t >> 6] |= std::uint64_t{1} << (t & 63);
    }
    std::uint64_t* copies = p.storage.data() + entry.offset / 8;
    for (std::uint32_t b = 0; b < 8; ++b) {
      std::uint64_t* copy = copies + std::size_t{b} * copy_words;
      for (std::uint32_t i = 0; i < copy_words; ++i) {
        copy[i] = b == 0 ? base[i] : (base[i] >> b) | (base[i + 1] << (64 - b));
      }
    }
  }
  return p;
}

}  // namespace tilvane
