// The class-gain bound of the moduli search. At a node, let U be the
// residues modulo the period P that the assigned classes leave uncovered.
// An unassigned modulus m covers, whatever class it takes, at most
// gain(m) = max over c of |U ∩ (c mod m)| of them. So when the gains of the
// unassigned moduli add up to less than |U|, no choice of their classes
// covers U, and the node has no cover. The same count tells which moduli
// may still hold a given uncovered residue x: after m takes x's class, the
// other moduli's gains can only shrink, so the child is cut whenever
// S - gain(m) + |U ∩ (x mod m)| < |U|, S being the sum of all gains.
//
// ClassCounts keeps |U ∩ (c mod m)| for every modulus and class as classes
// are assigned and withdrawn.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tilvane {

class ClassCounts {
 public:
  // moduli divide period; nothing covered yet.
  ClassCounts(std::span<const std::uint32_t> moduli, std::uint32_t period);

  std::uint32_t period() const { return period_; }
  std::uint64_t uncovered() const { return uncovered_; }
  bool is_uncovered(std::uint32_t x) const { return depth_[x] == 0; }
  // |U ∩ (c mod moduli[j])|.
  std::uint32_t in_class(std::size_t j, std::uint32_t c) const { return counts_[j][c]; }
  // The largest in_class(j, c) over c.
  std::uint32_t gain(std::size_t j) const;

  // Adds the class c of moduli[j] to the cover, and withdraws it again (in
  // the reverse order of adding).
  void add(std::size_t j, std::uint32_t c);
  void withdraw(std::size_t j, std::uint32_t c);

 private:
  std::vector<std::uint32_t> moduli_;
  std::uint32_t period_;
  std::vector<std::vector<std::uint32_t>> counts_;
  std::vector<std::uint16_t> depth_;  // how many added classes hold each residue
  std::uint64_t uncovered_;
};

}  // namespace tilvane
