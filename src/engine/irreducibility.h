// Irreducibility decisions: one residue search per one-modulus deletion.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "engine/congruence.h"
#include "engine/search_cache.h"

namespace tilvane {

// For the candidate check: the displayed congruences are known to cover, so
// only the deletions are searched, all sharing one global budget. Returns the
// total number of deletion-search nodes (never more than max_nodes); any
// covering deletion, undecided search or exhausted budget is an error text.
Result<std::uint64_t> verify_irreducible(std::span<const Congruence> congruences,
                                         std::uint64_t max_nodes);

struct IrreducibleDecision {
  bool irreducible = false;
  std::uint64_t nodes = 0;
  friend bool operator==(const IrreducibleDecision&, const IrreducibleDecision&) = default;
};

// For the census: searches the whole set, then each deletion, every search
// with the full budget. Not covering and reducible are answers (false); only
// an exhausted budget or an arithmetic failure is an error text.
Result<IrreducibleDecision> decide_irreducible_moduli(std::span<const std::uint64_t> moduli,
                                                      std::uint64_t max_nodes);

// The same decision, taking the results of deletion searches from the cache
// and storing new ones there when the cache serves this budget (otherwise it
// is not used). The result is identical to the call without a cache; one
// cache may serve any number of threads at once.
Result<IrreducibleDecision> decide_irreducible_moduli(std::span<const std::uint64_t> moduli,
                                                      std::uint64_t max_nodes, SearchCache& cache);

enum class IrreducibleClass {
  NotCovering,
  Reducible,
  Irreducible,
  UndecidedWhole,     // the search of the whole set ran out of budget
  UndecidedDeletion,  // a deletion search ran out of budget
};

struct IrreducibleClassification {
  IrreducibleClass kind = IrreducibleClass::NotCovering;
  std::uint64_t nodes = 0;  // every search's nodes, up to the deciding one
  // When Irreducible: the covering choice the search of the whole set found.
  std::vector<std::uint64_t> residues;
};

// The search behind decide_irreducible_moduli, with an exhausted budget as
// an answer. The cache (may be null) is used only when it serves max_nodes.
Result<IrreducibleClassification> classify_irreducible_moduli(std::span<const std::uint64_t> moduli,
                                                              std::uint64_t max_nodes,
                                                              SearchCache* cache);

}  // namespace tilvane
