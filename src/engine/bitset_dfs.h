// The depth-first search of the bitset search, written once and compiled
// for each instruction-set level. A kernel unit, compiled for its
// instructions, instantiates BitsetDfs with its own Ops type, which has
// internal linkage, so every instantiation stays local to the unit that
// built it for its instructions.
//
// Ops provides, for a bitset of W 64-bit words:
//   static std::uint32_t gain<W>(const std::uint64_t* uncovered, const
//   std::uint8_t* mask)
//     the number of bits set in both (uncovered 64-byte aligned, mask any
//     address);
//   static void cut<W>(std::uint64_t* out, const std::uint64_t* uncovered,
//   const std::uint8_t* mask)
//     out = uncovered without the bits of mask (out 64-byte aligned).
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/bitset_search.h"
#include "engine/class_patterns.h"
#include "engine/residue_search.h"
#include "engine/search_abort.h"

namespace tilvane {

template <unsigned W, class Ops>
class BitsetDfs {
 public:
  BitsetDfs(const BitsetInput& input, std::uint64_t max_nodes);

  BitsetOutcome run();

 private:
  struct Modulus {
    const std::uint8_t* copies;
    std::uint32_t copy_bytes;
    std::uint32_t modulus;
    std::uint32_t share;
    std::uint64_t reciprocal;
  };

  // The window of modulus md that starts at bit start (see ClassPatterns).
  static const std::uint8_t* window(const Modulus& md, std::uint32_t start) {
    return md.copies + (start & 7U) * md.copy_bytes + (start >> 3);
  }

  // The first word at or after from_word with an uncovered bit; a node is
  // only explored while something is uncovered, so there must be one.
  static std::uint32_t first_uncovered_word(const std::uint64_t* bits, std::uint32_t from_word) {
    std::uint32_t word = from_word;
    while (bits[word] == 0) {
      if (++word == W) search_abort("uncovered count and counters disagree");
    }
    return word;
  }

  SearchOutcome explore(unsigned depth, std::uint32_t from_word, std::uint32_t uncovered,
                        std::uint32_t capacity, std::uint32_t unassigned);
  SearchOutcome explore_pair(unsigned depth, std::uint32_t from_word, std::uint32_t uncovered,
                             std::uint32_t capacity, std::uint32_t unassigned);
  bool last_covers(const std::uint64_t* bits, const std::uint8_t* cut, std::uint32_t from_word,
                   std::uint32_t k, std::uint32_t& residue) const;
  bool last_modulus(const std::uint64_t* bits, const std::uint8_t* cut, std::uint32_t from_word,
                    std::uint32_t last);

  alignas(64) std::uint64_t levels_[kBitsetModuliLimit + 1][W];
  Modulus moduli_[kBitsetModuliLimit];
  std::uint32_t residues_[kBitsetModuliLimit];
  std::uint32_t count_;
  std::uint32_t period_;
  std::uint64_t nodes_ = 0;
  std::uint64_t max_nodes_;
  std::uint32_t unassigned_at_found_ = 0;
};

template <unsigned W, class Ops>
BitsetDfs<W, Ops>::BitsetDfs(const BitsetInput& input, std::uint64_t max_nodes)
    : count_(input.count), period_(input.period), max_nodes_(max_nodes) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.storage);
  for (std::uint32_t j = 0; j < count_; ++j) {
    const ClassPatterns::Modulus& p = input.moduli[j];
    moduli_[j] = {bytes + p.offset, p.copy_bytes, p.modulus, p.share, p.reciprocal};
    residues_[j] = 0;
  }
}

// The root: modulus 0 is fixed at residue 0, the root node passes the budget
// test, is counted, and is tested for success and capacity exactly like any
// other node before its children are explored.
template <unsigned W, class Ops>
BitsetOutcome BitsetDfs<W, Ops>::run() {
  BitsetOutcome out;
  std::uint64_t* root = levels_[0];
  for (std::uint32_t i = 0; i < W; ++i) {
    const std::uint32_t low = i * 64;
    if (low + 64 <= period_) {
      root[i] = ~std::uint64_t{0};
    } else if (low < period_) {
      root[i] = (std::uint64_t{1} << (period_ - low)) - 1;
    } else {
      root[i] = 0;
    }
  }
  Ops::template cut<W>(root, root, window(moduli_[0], moduli_[0].modulus - 1));
  const std::uint32_t uncovered = period_ - moduli_[0].share;
  std::uint32_t capacity = 0;
  for (std::uint32_t j = 1; j < count_; ++j) capacity += moduli_[j].share;
  const std::uint32_t others = (count_ == 32 ? ~0U : (1U << count_) - 1) & ~1U;

  if (max_nodes_ == 0) {
    out.outcome = SearchOutcome::BudgetExceeded;
  } else {
    nodes_ = 1;
    if (uncovered == 0) {
      unassigned_at_found_ = others;
      out.outcome = SearchOutcome::Found;
    } else if (capacity < uncovered) {
      out.outcome = SearchOutcome::NotFound;
    } else {
      out.outcome = explore(0, 0, uncovered, capacity, others);
    }
  }
  out.nodes = nodes_;
  if (out.outcome == SearchOutcome::Found) {
    for (std::uint32_t j = 1; j < count_; ++j) {
      out.residues[j] = (unassigned_at_found_ >> j) & 1U ? 0 : residues_[j];
    }
  }
  return out;
}

// One inner node that has already been counted and is known to have
// uncovered residues and enough capacity. x is the first uncovered bit at or
// after from_word: it never lies left of the parent's, since a child only
// loses bits. Each unassigned modulus j becomes a candidate with the class of
// x (mod m_j) and its gain; the key gain·2^16 + (31 − j)·2^10 + window start
// sorts by gain descending and then by index ascending, and is unique, so any
// sort gives the literal search's stable order.
//
// The children are visited here: a child passes the budget test and is
// counted; a child with nothing left uncovered, or with less capacity than
// uncovered residues, ends at once and is never built. Only the others get
// their bitset (one copy into the next level, no undo) and a call.
template <unsigned W, class Ops>
SearchOutcome BitsetDfs<W, Ops>::explore(unsigned depth, std::uint32_t from_word,
                                         std::uint32_t uncovered, std::uint32_t capacity,
                                         std::uint32_t unassigned) {
  const std::uint64_t* bits = levels_[depth];
  const std::uint32_t word = first_uncovered_word(bits, from_word);
  const std::uint32_t x = word * 64 + static_cast<std::uint32_t>(__builtin_ctzll(bits[word]));

  std::uint32_t keys[kBitsetModuliLimit];
  unsigned count = 0;
  for (std::uint32_t rest = unassigned; rest != 0; rest &= rest - 1) {
    const auto j = static_cast<std::uint32_t>(__builtin_ctz(rest));
    const Modulus& md = moduli_[j];
    const auto quotient = static_cast<std::uint32_t>((x * md.reciprocal) >> 22);
    const std::uint32_t start = md.modulus - 1 - (x - quotient * md.modulus);
    const std::uint32_t gain = Ops::template gain<W>(bits, window(md, start));
    const std::uint32_t key = gain << 16 | (31 - j) << 10 | start;
    unsigned slot = count++;
    while (slot > 0 && keys[slot - 1] < key) {
      keys[slot] = keys[slot - 1];
      --slot;
    }
    keys[slot] = key;
  }

  for (unsigned c = 0; c < count; ++c) {
    if (nodes_ >= max_nodes_) return SearchOutcome::BudgetExceeded;
    ++nodes_;
    const std::uint32_t key = keys[c];
    const std::uint32_t j = 31 - ((key >> 10) & 31);
    const std::uint32_t start = key & 1023;
    const Modulus& md = moduli_[j];
    residues_[j] = md.modulus - 1 - start;
    const std::uint32_t left = uncovered - (key >> 16);
    if (left == 0) {
      unassigned_at_found_ = unassigned & ~(1U << j);
      return SearchOutcome::Found;
    }
    const std::uint32_t room = capacity - md.share;
    if (room < left) continue;
    const std::uint32_t rest = unassigned & ~(1U << j);
    if ((rest & (rest - 1)) == 0) {
      // The child has one modulus left: see last_modulus.
      if (nodes_ >= max_nodes_) return SearchOutcome::BudgetExceeded;
      ++nodes_;
      if (last_modulus(bits, window(md, start), word, rest)) return SearchOutcome::Found;
      continue;
    }
    Ops::template cut<W>(levels_[depth + 1], bits, window(md, start));
    const std::uint32_t upper = rest & (rest - 1);
    const SearchOutcome s = (upper & (upper - 1)) == 0
                                ? explore_pair(depth + 1, word, left, room, rest)
                                : explore(depth + 1, word, left, room, rest);
    if (s != SearchOutcome::NotFound) return s;
  }
  return SearchOutcome::NotFound;
}

// explore for a node with exactly two unassigned moduli, the most frequent
// kind: the same steps without the general candidate list.
template <unsigned W, class Ops>
SearchOutcome BitsetDfs<W, Ops>::explore_pair(unsigned depth, std::uint32_t from_word,
                                              std::uint32_t uncovered, std::uint32_t capacity,
                                              std::uint32_t unassigned) {
  const std::uint64_t* bits = levels_[depth];
  const std::uint32_t word = first_uncovered_word(bits, from_word);
  const std::uint32_t x = word * 64 + static_cast<std::uint32_t>(__builtin_ctzll(bits[word]));

  std::uint32_t order[2];
  std::uint32_t starts[2];
  std::uint32_t gains[2];
  order[0] = static_cast<std::uint32_t>(__builtin_ctz(unassigned));
  order[1] = static_cast<std::uint32_t>(31 - __builtin_clz(unassigned));
  for (unsigned c = 0; c < 2; ++c) {
    const Modulus& md = moduli_[order[c]];
    const auto quotient = static_cast<std::uint32_t>((x * md.reciprocal) >> 22);
    starts[c] = md.modulus - 1 - (x - quotient * md.modulus);
    gains[c] = Ops::template gain<W>(bits, window(md, starts[c]));
  }
  // The common case, decided without ordering the two children: when the
  // budget covers the whole subtree (at most four nodes) and neither child
  // covers everything, the order only matters if a grandchild covers. So
  // both children are counted, each open child (capacity for what it
  // leaves) with its one grandchild, and unless a grandchild covers the
  // node is done; otherwise the exact walk below runs.
  const std::uint32_t left0 = uncovered - gains[0];
  const std::uint32_t left1 = uncovered - gains[1];
  if (max_nodes_ - nodes_ >= 4 && left0 != 0 && left1 != 0) {
    const bool open0 = moduli_[order[1]].share >= left0;
    const bool open1 = moduli_[order[0]].share >= left1;
    bool covers = false;
    std::uint32_t unused = 0;
    if (open0) {
      covers |= last_covers(bits, window(moduli_[order[0]], starts[0]), word, order[1], unused);
    }
    if (open1) {
      covers |= last_covers(bits, window(moduli_[order[1]], starts[1]), word, order[0], unused);
    }
    if (!covers) {
      nodes_ += 2 + (open0 ? 1 : 0) + (open1 ? 1 : 0);
      return SearchOutcome::NotFound;
    }
  }

  const unsigned first = gains[1] > gains[0] ? 1 : 0;
  for (unsigned step = 0; step < 2; ++step) {
    const unsigned c = first ^ step;
    if (nodes_ >= max_nodes_) return SearchOutcome::BudgetExceeded;
    ++nodes_;
    const std::uint32_t j = order[c];
    const Modulus& md = moduli_[j];
    residues_[j] = md.modulus - 1 - starts[c];
    const std::uint32_t left = uncovered - gains[c];
    const std::uint32_t other = 1U << order[c ^ 1];
    if (left == 0) {
      unassigned_at_found_ = other;
      return SearchOutcome::Found;
    }
    if (capacity - md.share < left) continue;
    if (nodes_ >= max_nodes_) return SearchOutcome::BudgetExceeded;
    ++nodes_;
    if (last_modulus(bits, window(md, starts[c]), word, other)) return SearchOutcome::Found;
  }
  return SearchOutcome::NotFound;
}

// A child with one unassigned modulus k left, residues left uncovered and
// capacity for them (its capacity is exactly the share of k) has exactly one
// child of its own: k takes the class of the child's smallest uncovered
// residue x, and that grandchild either covers everything (Found) or has no
// capacity left (NotFound). So it is decided here, without building the
// child: the grandchild covers when the bits of the parent, less the child's
// class (cut) and less the class of x (mod m_k), are empty. residue is set
// to x mod m_k either way.
template <unsigned W, class Ops>
bool BitsetDfs<W, Ops>::last_covers(const std::uint64_t* bits, const std::uint8_t* cut,
                                    std::uint32_t from_word, std::uint32_t k,
                                    std::uint32_t& residue) const {
  std::uint32_t word = from_word;
  std::uint64_t value;
  for (;;) {
    std::uint64_t c;
    std::memcpy(&c, cut + 8 * word, sizeof c);
    value = bits[word] & ~c;
    if (value != 0) break;
    if (++word == W) search_abort("uncovered count and counters disagree");
  }
  const std::uint32_t x = word * 64 + static_cast<std::uint32_t>(__builtin_ctzll(value));
  const Modulus& md = moduli_[k];
  const auto quotient = static_cast<std::uint32_t>((x * md.reciprocal) >> 22);
  residue = x - quotient * md.modulus;
  return Ops::template empty_without<W>(bits, cut, window(md, md.modulus - 1 - residue));
}

// last_covers for a counted child; when the grandchild covers, records the
// residue of k and that no modulus is left unassigned.
template <unsigned W, class Ops>
bool BitsetDfs<W, Ops>::last_modulus(const std::uint64_t* bits, const std::uint8_t* cut,
                                     std::uint32_t from_word, std::uint32_t last) {
  const auto k = static_cast<std::uint32_t>(__builtin_ctz(last));
  std::uint32_t residue = 0;
  if (!last_covers(bits, cut, from_word, k, residue)) return false;
  residues_[k] = residue;
  unassigned_at_found_ = 0;
  return true;
}

// The search for the word count of the input, which must be one of Ws; any
// other count is a defect in the caller's choice of words.
template <class Ops, unsigned... Ws>
BitsetOutcome run_bitset_dfs(const BitsetInput& input, std::uint64_t max_nodes) {
  BitsetOutcome out;
  const bool ran =
      ((input.words == Ws ? (out = BitsetDfs<Ws, Ops>(input, max_nodes).run(), true) : false) ||
       ...);
  if (!ran) search_abort("no bitset search compiled for this word count");
  return out;
}

}  // namespace tilvane
