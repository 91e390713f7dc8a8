#include "engine/residue_search.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "base/fraction.h"
#include "engine/period.h"

namespace tilvane {
namespace {

[[noreturn]] void abort_with(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  std::fflush(stderr);
  std::abort();
}

// The search state of one find_cover_literal call. covered[i] counts the
// assigned congruences containing residue i; the recursion assigns and
// un-assigns congruences in place.
struct DfsState {
  std::vector<std::uint16_t> covered;
  std::vector<bool> assigned;
  std::vector<std::optional<std::uint64_t>> residues;
  std::vector<std::uint64_t> moduli;
  std::uint64_t period = 0;
  std::uint64_t nodes = 0;
  std::uint64_t max_nodes = 0;

  // Adds the class r (mod m) to the counters and returns how many residues
  // went from uncovered to covered.
  std::uint64_t cover_class(std::uint64_t r, std::uint64_t m) {
    std::uint64_t newly = 0;
    for (std::uint64_t i = r; i < period; i += m) {
      if (covered[i] == 65535) abort_with("coverage counter cannot overflow when k <= 128");
      if (covered[i] == 0) ++newly;
      ++covered[i];
    }
    return newly;
  }

  void uncover_class(std::uint64_t r, std::uint64_t m) {
    for (std::uint64_t i = r; i < period; i += m) {
      if (covered[i] == 0) abort_with("assertion failed: covered[x] > 0");
      --covered[i];
    }
  }

  SearchOutcome dfs(std::uint64_t uncovered) {
    if (nodes >= max_nodes) return SearchOutcome::BudgetExceeded;
    ++nodes;
    if (uncovered == 0) return SearchOutcome::Found;

    std::uint64_t capacity = 0;
    for (std::size_t j = 0; j < moduli.size(); ++j) {
      if (!assigned[j]) capacity += period / moduli[j];
    }
    if (capacity < uncovered) return SearchOutcome::NotFound;

    std::uint64_t x = 0;
    while (x < period && covered[x] != 0) ++x;
    if (x == period) abort_with("uncovered count and counters disagree");

    struct Candidate {
      std::size_t index;
      std::uint64_t gain;
    };
    std::vector<Candidate> candidates;
    candidates.reserve(4);
    for (std::size_t j = 0; j < moduli.size(); ++j) {
      if (assigned[j]) continue;
      std::uint64_t gain = 0;
      for (std::uint64_t i = x % moduli[j]; i < period; i += moduli[j]) {
        if (covered[i] == 0) ++gain;
      }
      candidates.push_back({j, gain});
    }
    // Gain descending; equal gains keep ascending index order. Lists longer
    // than 20 entries may order equal gains as they please, and a stable sort
    // is one such order, so one rule serves every length.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.gain > b.gain; });

    for (const Candidate& c : candidates) {
      const std::uint64_t m = moduli[c.index];
      const std::uint64_t r = x % m;
      assigned[c.index] = true;
      residues[c.index] = r;
      const std::uint64_t newly = cover_class(r, m);
      const SearchOutcome s = dfs(uncovered - newly);
      if (s == SearchOutcome::Found) return s;
      uncover_class(r, m);
      assigned[c.index] = false;
      residues[c.index].reset();
      if (s == SearchOutcome::BudgetExceeded) return s;
    }
    return SearchOutcome::NotFound;
  }
};

}  // namespace

bool reciprocal_sum_below_one(std::span<const std::uint64_t> moduli) {
  const std::optional<Fraction> sum = reciprocal_sum(moduli);
  return sum && sum->numerator < sum->denominator;
}

Result<CoverSearch> find_cover_literal(std::span<const std::uint64_t> moduli,
                                       std::uint64_t max_nodes) {
  if (moduli.empty()) return CoverSearch{};
  if (reciprocal_sum_below_one(moduli)) return CoverSearch{};
  auto period = common_period(moduli);
  if (!period) return std::move(period).take_error();

  DfsState state;
  state.moduli.assign(moduli.begin(), moduli.end());
  state.period = *period;
  state.covered.assign(state.period, 0);
  state.assigned.assign(moduli.size(), false);
  state.residues.assign(moduli.size(), std::nullopt);
  state.max_nodes = max_nodes;

  state.assigned[0] = true;
  state.residues[0] = 0;
  const std::uint64_t uncovered = state.period - state.cover_class(0, state.moduli[0]);

  CoverSearch result;
  result.outcome = state.dfs(uncovered);
  result.nodes = state.nodes;
  if (result.outcome == SearchOutcome::Found) {
    result.residues.reserve(moduli.size());
    // The cover can be complete before every modulus has a residue; any
    // residue keeps it complete, and such a modulus is reported at 0.
    for (const auto& r : state.residues) result.residues.push_back(r.value_or(0));
  }
  return result;
}

}  // namespace tilvane
