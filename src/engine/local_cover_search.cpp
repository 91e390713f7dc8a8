#include "engine/local_cover_search.h"

#include <algorithm>
#include <numeric>

#include "base/checked_math.h"
#include "base/splitmix.h"

namespace tilvane {
namespace {

// One move in this many ignores the gains and moves a modulus at random.
constexpr std::uint64_t kNoiseOneIn = 16;

// The state of the search: the residue of each modulus, how many classes
// hold each residue of the period, and the uncovered residues as a list
// with each one's place in it, so that one can be drawn at random and any
// be removed in constant time.
class MinConflicts {
 public:
  MinConflicts(std::span<const std::uint64_t> moduli, std::uint64_t period, std::uint64_t seed)
      : mod_(moduli.begin(), moduli.end()),
        period_(period),
        residue_(moduli.size(), 0),
        tabu_until_(moduli.size(), 0),
        held_(static_cast<std::size_t>(period), 0),
        place_(static_cast<std::size_t>(period), 0),
        random_(seed) {
    uncovered_.resize(static_cast<std::size_t>(period));
    std::iota(uncovered_.begin(), uncovered_.end(), std::uint32_t{0});
    std::iota(place_.begin(), place_.end(), std::uint32_t{0});
  }

  // The greedy start: the moduli from the smallest (whose classes are the
  // largest), each at a class that covers most of what the earlier ones
  // left; ties go to the first class met from a random offset.
  void greedy_start() {
    std::vector<std::size_t> order(mod_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return mod_[a] < mod_[b]; });
    std::vector<std::uint64_t> counts;
    for (const std::size_t j : order) {
      const std::uint64_t m = mod_[j];
      counts.assign(static_cast<std::size_t>(m), 0);
      for (const std::uint32_t x : uncovered_) ++counts[x % m];
      const std::uint64_t offset = random_.below(m);
      std::uint64_t best = offset;
      for (std::uint64_t i = 0; i < m; ++i) {
        const std::uint64_t c = (offset + i) % m;
        if (counts[c] > counts[best]) best = c;
      }
      residue_[j] = best;
      for (std::uint64_t x = best; x < period_; x += m) hold(x);
    }
  }

  // Up to max_moves moves; true when nothing is left uncovered.
  bool run(std::uint64_t max_moves) {
    const std::uint64_t tenure = 1 + mod_.size() / 4;
    std::size_t fewest = uncovered_.size();
    for (std::uint64_t move = 1; move <= max_moves; ++move) {
      if (uncovered_.empty()) return true;
      const std::uint64_t x = uncovered_[random_.below(uncovered_.size())];
      std::size_t chosen = mod_.size();
      if (random_.below(kNoiseOneIn) == 0) {
        chosen = random_.below(mod_.size());
      } else {
        // The best gain among the moves allowed: a tabu move is allowed
        // when it reaches fewer uncovered residues than ever before. Ties
        // are broken at random (reservoir sampling).
        long long best = 0;
        std::uint64_t ties = 0;
        for (std::size_t j = 0; j < mod_.size(); ++j) {
          const long long g = gain(j, x % mod_[j]);
          const bool tabu = tabu_until_[j] > move;
          if (tabu &&
              static_cast<long long>(uncovered_.size()) - g >= static_cast<long long>(fewest)) {
            continue;
          }
          if (chosen == mod_.size() || g > best) {
            chosen = j;
            best = g;
            ties = 1;
          } else if (g == best && random_.below(++ties) == 0) {
            chosen = j;
          }
        }
        if (chosen == mod_.size()) chosen = random_.below(mod_.size());
      }
      shift(chosen, x % mod_[chosen]);
      tabu_until_[chosen] = move + tenure + random_.below(2);
      fewest = std::min(fewest, uncovered_.size());
    }
    return uncovered_.empty();
  }

  std::vector<std::uint64_t> residues() const { return residue_; }

 private:
  // What moving modulus j to class c changes: the residues of c held by no
  // class now, less those of its present class that it alone holds.
  long long gain(std::size_t j, std::uint64_t c) const {
    const std::uint64_t m = mod_[j];
    long long g = 0;
    for (std::uint64_t x = c; x < period_; x += m) g += held_[x] == 0;
    for (std::uint64_t x = residue_[j]; x < period_; x += m) g -= held_[x] == 1;
    return g;
  }

  void shift(std::size_t j, std::uint64_t c) {
    const std::uint64_t m = mod_[j];
    for (std::uint64_t x = residue_[j]; x < period_; x += m) release(x);
    residue_[j] = c;
    for (std::uint64_t x = c; x < period_; x += m) hold(x);
  }

  void hold(std::uint64_t x) {
    if (held_[x]++ != 0) return;
    // Remove x from the uncovered list: the last one takes its place.
    const std::uint32_t at = place_[x];
    const std::uint32_t last = uncovered_.back();
    uncovered_[at] = last;
    place_[last] = at;
    uncovered_.pop_back();
  }

  void release(std::uint64_t x) {
    if (--held_[x] != 0) return;
    place_[x] = static_cast<std::uint32_t>(uncovered_.size());
    uncovered_.push_back(static_cast<std::uint32_t>(x));
  }

  std::vector<std::uint64_t> mod_;
  std::uint64_t period_;
  std::vector<std::uint64_t> residue_;
  std::vector<std::uint64_t> tabu_until_;
  std::vector<std::uint32_t> held_;
  std::vector<std::uint32_t> place_;
  std::vector<std::uint32_t> uncovered_;
  SplitMix64 random_;
};

}  // namespace

std::optional<std::vector<std::uint64_t>> local_cover_search(std::span<const std::uint64_t> moduli,
                                                             std::uint64_t max_moves,
                                                             std::uint64_t seed) {
  if (moduli.empty() || std::find(moduli.begin(), moduli.end(), 0) != moduli.end()) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> period = checked_lcm_of(moduli);
  if (!period || *period > kLocalSearchPeriodLimit) return std::nullopt;
  MinConflicts search(moduli, *period, seed);
  search.greedy_start();
  if (!search.run(max_moves)) return std::nullopt;
  return search.residues();
}

std::optional<std::vector<std::uint64_t>> local_cover_restarts(
    std::span<const std::uint64_t> moduli, std::uint64_t tries, std::uint64_t moves_per_try) {
  SplitMix64 seeds(local_search_seed(moduli));
  for (std::uint64_t t = 0; t < tries; ++t) {
    if (auto found = local_cover_search(moduli, moves_per_try, seeds.next())) return found;
  }
  return std::nullopt;
}

std::uint64_t local_search_seed(std::span<const std::uint64_t> moduli) {
  std::uint64_t h = 0x6a09e667f3bcc909ULL;
  for (const std::uint64_t m : moduli) {
    h = (h ^ m) * 0xff51afd7ed558ccdULL;
    h ^= h >> 32;
  }
  return h;
}

}  // namespace tilvane
