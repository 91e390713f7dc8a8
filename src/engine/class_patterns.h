// The class masks of the bitset search. Residues below the period are bits;
// the class r (mod m) is the set of bits r, r + m, r + 2m, ... A mask for any
// class is read as a window from one repeating bit pattern per modulus, so
// the search needs no table per class and no shifting at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tilvane {

struct ClassPatterns {
  struct Modulus {
    std::uint32_t modulus = 0;
    std::uint32_t share = 0;       // period / modulus: residues in each class
    std::uint64_t reciprocal = 0;  // ceil(2^22 / modulus), for x mod modulus
    std::uint32_t copy_bytes = 0;  // length of one of the eight shifted copies
    std::size_t offset = 0;        // byte offset of the first copy in storage
  };

  std::uint32_t period = 0;
  std::uint32_t words = 0;  // 64-bit words of one bitset, covering the period
  std::vector<Modulus> moduli;
  std::vector<std::uint64_t> storage;
};

// Builds the patterns for moduli whose common period is at most 1024, for
// bitsets of the given number of words (at least period / 64 rounded up, at
// most 16).
ClassPatterns build_class_patterns(std::span<const std::uint64_t> moduli, std::uint32_t period,
                                   std::uint32_t words);

}  // namespace tilvane
