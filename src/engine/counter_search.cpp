#include "engine/counter_search.h"

#include <cstring>
#include <vector>

#include "engine/residue_dfs.h"
#include "engine/search_abort.h"

namespace tilvane {
namespace {

// covered[i] counts the assigned congruences that contain residue i; a
// counter never exceeds the number of moduli, below 255. One array serves
// every depth: a class is added going down and taken off again when the
// child's search fails, as in the literal search.
class CounterState {
 public:
  CounterState(std::span<const std::uint64_t> moduli, std::uint64_t period)
      : moduli_(moduli), period_(period), covered_(period, 0) {}

  void cover_first() { add_class(0, moduli_[0], 1); }

  std::uint64_t first_uncovered(std::size_t, std::uint64_t from) const {
    const void* zero = std::memchr(covered_.data() + from, 0, period_ - from);
    if (zero == nullptr) search_abort("uncovered count and counters disagree");
    return static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(zero) - covered_.data());
  }

  std::uint64_t gain(std::size_t, std::size_t j, std::uint64_t x) const {
    std::uint64_t gain = 0;
    const std::uint64_t m = moduli_[j];
    for (std::uint64_t i = x % m; i < period_; i += m) gain += covered_[i] == 0 ? 1 : 0;
    return gain;
  }

  void cover(std::size_t, std::size_t j, std::uint64_t x) {
    add_class(x % moduli_[j], moduli_[j], 1);
  }

  void uncover(std::size_t, std::size_t j, std::uint64_t x) {
    add_class(x % moduli_[j], moduli_[j], -1);
  }

 private:
  void add_class(std::uint64_t r, std::uint64_t m, int delta) {
    const auto step = static_cast<std::uint8_t>(delta);
    for (std::uint64_t i = r; i < period_; i += m) {
      covered_[i] = static_cast<std::uint8_t>(covered_[i] + step);
    }
  }

  std::span<const std::uint64_t> moduli_;
  std::uint64_t period_;
  std::vector<std::uint8_t> covered_;
};

}  // namespace

CoverSearch counter_search(std::span<const std::uint64_t> moduli, std::uint64_t period,
                           std::uint64_t max_nodes) {
  if (moduli.size() > kCounterModuliLimit) search_abort("counter search given too many moduli");
  CounterState state(moduli, period);
  ResidueDfs<CounterState> dfs(moduli, period, max_nodes, state);
  return dfs.run();
}

}  // namespace tilvane
