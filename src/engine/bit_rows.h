// Small helpers for the bitsets of uncovered residues that the decision
// search and its rules share: bit i of a residue set is bit i % 64 of word
// i / 64, and every such bitset keeps a zero word past its period so that
// a row of 64 bits may be read from any start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tilvane {

inline std::size_t words_for(std::uint64_t bits) {
  return static_cast<std::size_t>((bits + 63) / 64);
}

// The bits of the last word that a bitset of `bits` bits uses.
inline std::uint64_t low_mask(std::uint64_t bits) {
  return bits % 64 == 0 ? ~std::uint64_t{0} : (std::uint64_t{1} << (bits % 64)) - 1;
}

// The 64 bits of a bitset that start at bit b; the word after the one
// holding b must be readable.
inline std::uint64_t read_bits(const std::uint64_t* bits, std::uint64_t b) {
  const std::size_t i = static_cast<std::size_t>(b / 64);
  const unsigned s = static_cast<unsigned>(b % 64);
  return s == 0 ? bits[i] : (bits[i] >> s) | (bits[i + 1] << (64 - s));
}

inline bool test_bit(const std::uint64_t* bits, std::uint64_t i) {
  return ((bits[i / 64] >> (i % 64)) & 1) != 0;
}

// Bit-sliced column counters: plane b, at planes[b * stride], holds bit b of
// the count of each of 64 columns, over `count` planes.
// Adds one to the count of every column set in row.
inline void add_to_planes(std::uint64_t* planes, std::size_t stride, unsigned count,
                          std::uint64_t row) {
  for (unsigned b = 0; row != 0 && b < count; ++b) {
    std::uint64_t& plane = planes[b * stride];
    const std::uint64_t carry = plane & row;
    plane ^= row;
    row = carry;
  }
}

// The columns whose count is at least need, which must fit in the planes;
// compared bit-serially from the top plane.
inline std::uint64_t planes_at_least(const std::uint64_t* planes, std::size_t stride,
                                     unsigned count, std::uint64_t need) {
  std::uint64_t greater = 0;
  std::uint64_t equal = ~std::uint64_t{0};
  for (unsigned b = count; b-- > 0;) {
    const std::uint64_t plane = planes[b * stride];
    if ((need >> b) & 1) {
      equal &= plane;
    } else {
      greater |= equal & plane;
      equal &= ~plane;
    }
  }
  return greater | equal;
}

}  // namespace tilvane
