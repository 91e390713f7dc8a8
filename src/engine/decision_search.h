// The decision search: does some choice of one residue per modulus cover
// every integer? Exact in its answer like find_cover, but free of the node
// counting rules, so it may search any tree that decides the question:
// - the prime-power reductions (prime_power.h) shrink the set and its
//   period before the search, and the |A| < p step is applied again at
//   inner nodes whose uncovered residues allow it;
// - at nodes with enough unassigned moduli, the residues still uncovered
//   are projected onto the period of those moduli, every modulus' best
//   class count is computed, and the node is cut when the best counts
//   cannot add up to what is uncovered;
// - such a node branches on the uncovered residue with the fewest workable
//   choices (fail first), and skips choices whose gain cannot lead to a
//   cover by the bound;
// - failed states are remembered in a DecisionMemo, exactly, across all
//   searches that share it.
// Its node counts are its own and are not comparable with find_cover's.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "engine/residue_search.h"
#include "engine/simd_level.h"

namespace tilvane {

class CoverStore;
class DecisionMemo;
class DominanceStore;

struct CoverDecision {
  SearchOutcome outcome = SearchOutcome::NotFound;  // Found, NotFound, BudgetExceeded
  // One residue per modulus, in input order, when Found; they cover. Moduli
  // that a reduction dropped, or left unassigned by the search, get 0.
  std::vector<std::uint64_t> residues;
  std::uint64_t nodes = 0;  // nodes this search visited (its own count)
};

// Which techniques the search uses (all by default; the others exist to
// measure what each one gives, and every combination is exact).
struct DecisionOptions {
  bool reduce = true;                 // prime-power reductions before the search
  bool merge = true;                  // among them, |A| = p replaced by one modulus
  bool reduce_in_search = true;       // |A| < p at inner nodes
  bool project = true;                // project onto the unassigned moduli's period
  bool bound = true;                  // best-gain bound
  bool fail_first = true;             // branch on the residue with fewest choices
  std::size_t heavy_min = 5;          // unassigned moduli for the steps above
  std::size_t scan_limit = 256;       // uncovered residues examined for fail first
  std::uint64_t memo_min_nodes = 16;  // smaller failed subtrees are not stored
  bool symmetry = true;   // the first three moduli by the affine maps (affine_symmetry.h)
  bool fibres = true;     // over-full fibres branch on smaller p-parts (fibre_rule.h)
  bool redundant = true;  // a cover's redundant class proves reducibility (redundant_class.h)
  bool dominance = true;  // sets known not to cover settle others (dominance_store.h)
  // Local search for a cover before the exhaustive search (local_cover_search.h),
  // of sets with at least local_min_moduli active moduli and a reduced period
  // of at least local_min_period, for at most local_moves moves. Deletion
  // searches of an irreducibility decision skip it: they rarely cover.
  bool local_search = true;
  std::size_t local_min_moduli = 10;
  std::uint64_t local_min_period = 120;
  std::uint64_t local_moves = 2000;
  // Deletions proven not to cover go into the dominance store, and a
  // deletion it settles (stored, or with a modulus replaced by a divisor
  // stored) is not searched.
  bool deletions = true;
  // Sets known to cover settle candidates that hold one (cover_store.h).
  bool covers = true;
  // A set of at least moduli_min_moduli active moduli that this search
  // does not settle within moduli_probe_nodes nodes is handed to the moduli
  // search (moduli_decision.h), whose class-gain bound and branching on a
  // modulus' classes refute in thousands of nodes what this search needs
  // millions for; it is exact too, and a set it does not settle within
  // moduli_max_nodes goes back to this search.
  bool moduli_search = true;
  std::size_t moduli_min_moduli = 8;
  std::uint64_t moduli_probe_nodes = 4096;
  std::uint64_t moduli_max_nodes = std::uint64_t{1} << 22;
  // When set, a search polls the flag every thousand nodes or so and, once
  // it reads true, ends as BudgetExceeded: a stop request from another
  // thread or a signal handler abandons the search within milliseconds.
  const std::atomic<bool>* stop = nullptr;
  friend bool operator==(const DecisionOptions&, const DecisionOptions&) = default;
};

// The search with the detected SIMD level, or a chosen one (which must be
// supported here). max_nodes = UINT64_MAX means no budget. Fails with the
// texts of common_period when the period overflows or exceeds its limit
// (sets whose reciprocal sum is below 1 are answered NotFound first, as
// find_cover does).
Result<CoverDecision> decide_cover(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                   DecisionMemo* memo = nullptr);
Result<CoverDecision> decide_cover(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                   DecisionMemo* memo, SimdLevel level);
Result<CoverDecision> decide_cover(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                   DecisionMemo* memo, SimdLevel level,
                                   const DecisionOptions& options);

enum class Verdict { Irreducible, NotCovering, Reducible, Undecided };

struct IrreducibilityVerdict {
  Verdict verdict = Verdict::NotCovering;
  // When Irreducible: a covering choice for the whole set, input order.
  std::vector<std::uint64_t> residues;
  std::uint64_t nodes = 0;  // total over its searches
};

// Searches the whole set and then each one-modulus deletion, every search
// with max_nodes. A covering deletion proves the set covers and is
// reducible, even when the search of the whole set ran out of budget; a set
// that covers and is prime-power reducible, or whose cover has a redundant
// class, is reducible without deletion searches. Any search out of budget
// otherwise gives Undecided.
Result<IrreducibilityVerdict> decide_irreducible_fast(std::span<const std::uint64_t> moduli,
                                                      std::uint64_t max_nodes,
                                                      DecisionMemo* memo = nullptr);
// With a dominance store (and options.dominance), a set the store settles
// is not searched, and every set proven not to cover goes into the store
// (with options.deletions, its deletions too). With a cover store (and
// options.covers), a set with a stored deletion is reducible unsearched,
// and the covering deletions found go into the store.
Result<IrreducibilityVerdict> decide_irreducible_fast(std::span<const std::uint64_t> moduli,
                                                      std::uint64_t max_nodes, DecisionMemo* memo,
                                                      SimdLevel level,
                                                      const DecisionOptions& options = {},
                                                      DominanceStore* dominance = nullptr,
                                                      CoverStore* covers = nullptr);

}  // namespace tilvane
