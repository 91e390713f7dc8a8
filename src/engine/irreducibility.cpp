#include "engine/irreducibility.h"

#include <vector>

#include "base/text_format.h"
#include "engine/fast_search.h"
#include "engine/residue_search.h"

namespace tilvane {
namespace {

// The moduli except the one at position skip, in order.
void fill_without(std::vector<std::uint64_t>& out, std::span<const std::uint64_t> moduli,
                  std::size_t skip) {
  out.clear();
  for (std::size_t i = 0; i < moduli.size(); ++i) {
    if (i != skip) out.push_back(moduli[i]);
  }
}

}  // namespace

Result<std::uint64_t> verify_irreducible(std::span<const Congruence> congruences,
                                         std::uint64_t max_nodes) {
  std::vector<std::uint64_t> moduli;
  moduli.reserve(congruences.size());
  for (const Congruence& c : congruences) moduli.push_back(c.modulus);

  std::vector<std::uint64_t> remaining;
  remaining.reserve(moduli.size());
  std::uint64_t used = 0;
  for (std::size_t j = 0; j < moduli.size(); ++j) {
    fill_without(remaining, moduli, j);
    if (used >= max_nodes) {
      return fail(
          cat("irreducibility search exhausted the global budget of ", max_nodes, " nodes"));
    }
    auto search = find_cover(remaining, max_nodes - used);
    if (!search) return std::move(search).take_error();
    if (__builtin_add_overflow(used, search->nodes, &used)) {
      return fail("search-node counter overflow");
    }
    switch (search->outcome) {
      case SearchOutcome::NotFound:
        break;
      case SearchOutcome::Found: {
        std::string via;
        for (std::size_t i = 0; i < remaining.size(); ++i) {
          if (i != 0) via += ", ";
          via += cat(search->residues[i], " (mod ", remaining[i], ")");
        }
        return fail(cat("set is reducible: after deleting modulus ", moduli[j],
                        ", the remaining set covers via ", via));
      }
      case SearchOutcome::BudgetExceeded:
        return fail(cat("irreducibility undecided after ", used, " search nodes; no PASS"));
    }
  }
  return used;
}

namespace {

// A deletion search, answered from the cache when it holds the set.
Result<CachedSearch> deletion_search(std::span<const std::uint64_t> remaining,
                                     std::uint64_t max_nodes, SearchCache* cache) {
  if (cache != nullptr) {
    if (auto hit = cache->find(remaining)) return *hit;
  }
  auto search = find_cover(remaining, max_nodes);
  if (!search) return std::move(search).take_error();
  const CachedSearch result{search->outcome, search->nodes};
  if (cache != nullptr) cache->insert(remaining, result);
  return result;
}

}  // namespace

// The whole set first: only a covering set can be irreducible. Then each
// deletion in order, until one covers.
Result<IrreducibleClassification> classify_irreducible_moduli(std::span<const std::uint64_t> moduli,
                                                              std::uint64_t max_nodes,
                                                              SearchCache* cache) {
  if (cache != nullptr && cache->max_nodes() != max_nodes) cache = nullptr;
  auto whole = find_cover(moduli, max_nodes);
  if (!whole) return std::move(whole).take_error();
  IrreducibleClassification result{IrreducibleClass::NotCovering, whole->nodes, {}};
  switch (whole->outcome) {
    case SearchOutcome::NotFound:
      return result;
    case SearchOutcome::BudgetExceeded:
      result.kind = IrreducibleClass::UndecidedWhole;
      return result;
    case SearchOutcome::Found:
      break;
  }

  std::vector<std::uint64_t> remaining;
  remaining.reserve(moduli.size());
  for (std::size_t i = 0; i < moduli.size(); ++i) {
    fill_without(remaining, moduli, i);
    auto search = deletion_search(remaining, max_nodes, cache);
    if (!search) return std::move(search).take_error();
    if (__builtin_add_overflow(result.nodes, search->nodes, &result.nodes)) {
      return fail("census node counter overflow");
    }
    switch (search->outcome) {
      case SearchOutcome::NotFound:
        break;
      case SearchOutcome::Found:
        result.kind = IrreducibleClass::Reducible;
        return result;
      case SearchOutcome::BudgetExceeded:
        result.kind = IrreducibleClass::UndecidedDeletion;
        return result;
    }
  }
  result.kind = IrreducibleClass::Irreducible;
  result.residues = std::move(whole->residues);
  return result;
}

namespace {

// The census answer: an exhausted budget is an error text naming the search.
Result<IrreducibleDecision> decide(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                   SearchCache* cache) {
  auto classified = classify_irreducible_moduli(moduli, max_nodes, cache);
  if (!classified) return std::move(classified).take_error();
  switch (classified->kind) {
    case IrreducibleClass::UndecidedWhole:
      return fail(
          cat("full-cover search for ", render_set(moduli), " exceeded ", max_nodes, " nodes"));
    case IrreducibleClass::UndecidedDeletion:
      return fail(
          cat("deletion search for ", render_set(moduli), " exceeded ", max_nodes, " nodes"));
    default:
      return IrreducibleDecision{classified->kind == IrreducibleClass::Irreducible,
                                 classified->nodes};
  }
}

}  // namespace

Result<IrreducibleDecision> decide_irreducible_moduli(std::span<const std::uint64_t> moduli,
                                                      std::uint64_t max_nodes) {
  return decide(moduli, max_nodes, nullptr);
}

Result<IrreducibleDecision> decide_irreducible_moduli(std::span<const std::uint64_t> moduli,
                                                      std::uint64_t max_nodes, SearchCache& cache) {
  return decide(moduli, max_nodes, cache.max_nodes() == max_nodes ? &cache : nullptr);
}

}  // namespace tilvane
