// Deciding one moduli set: does some choice of one class per modulus cover
// every integer? A depth-first search over the residues modulo the period
// that can leave a refutation trace (refutation_trace.h) whose every step a
// separate checker recomputes from the branch decisions alone:
// - a node branches on an uncovered residue x over every unassigned modulus
//   (some modulus must hold x), choosing, with fail_first, the x that the
//   fewest moduli may hold by the class-gain bound;
// - or, with class_branching, on the classes of the unassigned modulus with
//   the fewest classes the bound leaves open, when they are fewer than the
//   moduli that may hold the best residue: near the bound most classes of
//   a modulus fall short, and this branching is far narrower (it settles
//   D(240, 4), which residue branching alone does not in minutes);
// - the class-gain bound (class_gain_bound.h) and the projected bound
//   (projected_bound.h) close nodes, and over-full prime fibres narrow a
//   residue branch to the moduli of smaller p-part (fibre_branching.h);
// - with symmetry, a translation fixes one modulus' class at 0 and the unit
//   maps that keep it there reduce the classes of a second modulus to one
//   per orbit (unit_orbits.h);
// - with orbits as well, when that modulus is the period, a branch on the
//   classes of a modulus keeps one class per orbit of the units that fix
//   every class assigned so far (orbit_branching.h), at any depth.
// - with local_search, restarts of the min-conflicts local search
//   (local_cover_search.h) look for a cover when a short exhaustive search
//   leaves the set open, before the whole search;
//   they find the covers of large divisor sets in a fraction of a second
//   that the exhaustive search reaches only after millions of nodes, and a
//   miss costs only their moves.
// Every technique can be switched off; the answers stay the same.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "engine/refutation_trace.h"

namespace tilvane {

enum class ModuliOutcome { Covering, NoCovering, Undecided, Stopped };

struct ModuliOptions {
  bool bound = true;                  // class-gain bound
  bool fail_first = true;             // branch on the residue the fewest moduli may hold
  bool symmetry = true;               // translation and unit maps on the first two moduli
  bool project = true;                // the class-gain bound on the unassigned moduli's period
  bool fibres = true;                 // over-full prime fibres branch on smaller p-parts
  bool class_branching = true;        // branch on a modulus' classes when they are fewer
  bool orbits = true;                 // one class per orbit of the stabiliser, below the root
  bool local_search = true;           // local search for a cover before the search
  std::size_t local_min_moduli = 12;  // smaller sets are searched at once
  std::uint64_t local_after_nodes = 20000;  // the search tried before the local search
  std::uint64_t local_tries = 8;
  std::uint64_t local_moves = 25000;  // moves per try
  friend bool operator==(const ModuliOptions&, const ModuliOptions&) = default;
};

struct ModuliDecision {
  ModuliOutcome outcome = ModuliOutcome::NoCovering;
  // When Covering: one residue per modulus, input order; they cover.
  std::vector<std::uint64_t> residues;
  std::uint64_t period = 1;
  std::uint64_t nodes = 0;
  std::uint64_t bound_leaves = 0;      // nodes closed by the class-gain bound
  std::uint64_t projected_leaves = 0;  // nodes closed by the projected bound
  std::uint64_t fibre_branches = 0;    // branches the fibre rule narrowed
  std::uint64_t class_branches = 0;    // branches on the classes of a modulus
  std::uint64_t orbit_branches = 0;    // of them, those kept to one class per orbit
  std::uint64_t bare_leaves = 0;       // an uncovered residue and no modulus left
  std::uint64_t symmetric = 0;         // classes the symmetry step left out
  bool by_local_search = false;        // the covering came from the local search
};

// Called every few thousand nodes with the count so far; returning false
// stops the search (outcome Stopped).
using ModuliProgress = std::function<bool(std::uint64_t nodes)>;

// Moduli must be distinct and at least 1; the period (their LCM) must not
// exceed kPeriodLimit. max_nodes = UINT64_MAX means no budget. The trace
// sink receives its lines during the search, whatever the outcome; only a
// NoCovering answer ends its trace with "end", and a caller keeps the lines
// only then.
Result<ModuliDecision> decide_moduli(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                     const ModuliOptions& options = {}, TraceSink* trace = nullptr,
                                     const ModuliProgress& progress = {});

// A search split into independent subproblems. The frontier is a set of
// nodes of the search tree, found with the search's own decisions, each
// given by the classes assigned on its way from the root (kFreeModulus for
// a modulus without one). Every node of the tree lies above the frontier
// or in exactly one frontier node's subtree, so: a covering in any
// subproblem is a covering of the set; the set has no covering when every
// subproblem is refuted; the subproblems' node counts and the nodes above
// the frontier add up to the whole search's; and the trace of the whole
// search is the trace above the frontier with each subproblem's trace put
// in its place. The frontier depends on the set, the options and target
// alone, never on how many workers decide it.
inline constexpr std::uint32_t kFreeModulus = UINT32_MAX;

struct ModuliSplit {
  // The nodes above the frontier: Covering, Undecided or Stopped settle the
  // search (and no subproblem is left); NoCovering means that they close,
  // so the subproblems decide.
  ModuliDecision upper;
  std::size_t level = 0;  // a frontier node has this many classes assigned
  std::vector<std::vector<std::uint32_t>> subproblems;  // depth-first order
  // With a trace: subproblems.size() + 1 segments, the trace above the
  // frontier (beginning with the header and the moduli line) cut at each
  // frontier node; the whole trace is segment 0, subproblem 0's trace,
  // segment 1, ..., the last segment and "end".
  std::vector<std::string> trace;
};

// Splits the search so that it has at least target subproblems where the
// tree allows. The nodes above the frontier count against max_nodes.
Result<ModuliSplit> split_moduli(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                 const ModuliOptions& options, std::size_t target, bool with_trace,
                                 const ModuliProgress& progress = {});

// Decides one subproblem: the search from its node, with its own budget and
// node count; the trace sink receives the lines of its subtree alone.
Result<ModuliDecision> decide_moduli_subproblem(std::span<const std::uint64_t> moduli,
                                                std::span<const std::uint32_t> classes,
                                                std::uint64_t max_nodes,
                                                const ModuliOptions& options = {},
                                                TraceSink* trace = nullptr,
                                                const ModuliProgress& progress = {});

// Which techniques closed the search, in words ("class-gain bound, symmetry").
std::string moduli_techniques(const ModuliDecision& decision, const ModuliOptions& options);

}  // namespace tilvane
