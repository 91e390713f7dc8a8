#include "engine/decision_search.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <optional>

#include "base/checked_math.h"
#include "base/uint128.h"
#include "engine/affine_symmetry.h"
#include "engine/bit_rows.h"
#include "engine/congruence.h"
#include "engine/cover_check.h"
#include "engine/cover_store.h"
#include "engine/decision_memo.h"
#include "engine/dominance_store.h"
#include "engine/fibre_rule.h"
#include "engine/local_cover_search.h"
#include "engine/moduli_decision.h"
#include "engine/period.h"
#include "engine/prime_power.h"
#include "engine/redundant_class.h"
#include "engine/search_abort.h"
#include "engine/wide_bitset_kernels.h"

namespace tilvane {
namespace {

constexpr std::uint8_t kUnassigned = 0;
constexpr std::uint8_t kAssigned = 1;
constexpr std::uint8_t kDropped = 2;

// x mod m by one multiplication (Lemire's method), for x and m below 2^32.
struct FastMod {
  std::uint64_t m = 1;
  std::uint64_t magic = 0;
  explicit FastMod(std::uint64_t modulus = 1)
      : m(modulus), magic(~std::uint64_t{0} / modulus + 1) {}
  std::uint64_t operator()(std::uint64_t x) const {
    const std::uint64_t low = magic * x;
    return static_cast<std::uint64_t>((static_cast<u128>(low) * m) >> 64);
  }
};

// The class counts of one unassigned modulus at a heavy node: for small
// moduli a count per class; for larger ones the counts bit-sliced, plane b
// holding bit b of every class's count, so that the best count and the
// classes reaching a threshold come out of a few word operations per plane.
struct ClassCounts {
  std::size_t j = 0;
  std::uint64_t m = 0;
  std::uint64_t best = 0;
  bool sliced = false;
  std::size_t offset = 0;  // into counts_ or planes_
  unsigned planes = 0;
  std::size_t row_words = 0;
  std::size_t work = 0;  // offset of the workable-class mask in work_
};

struct Child {
  std::uint64_t gain;
  std::size_t j;
  std::uint64_t r;
};

// Nodes between two looks at DecisionOptions::stop.
constexpr std::uint64_t kStopPollNodes = 1024;

// One search over the active moduli of a reduced set. Each depth has its own
// bitset of uncovered residues (and its own period, which only shrinks going
// down); the class mask of r (mod m) is read from the modulus' pattern of
// multiples at bit m - r, so any class of any modulus costs no table.
class DecisionDfs {
 public:
  DecisionDfs(std::span<const std::uint64_t> moduli, std::uint64_t period, std::uint64_t max_nodes,
              DecisionMemo* memo, const WideBitsetKernels& kernels, const DecisionOptions& options)
      : kernels_(kernels),
        options_(options),
        memo_(memo),
        mod_(moduli.begin(), moduli.end()),
        fast_(moduli.size()),
        state_(moduli.size(), kUnassigned),
        residue_(moduli.size(), 0),
        root_period_(period),
        root_words_(words_for(period)),
        stride_(root_words_ + 2),
        max_nodes_(max_nodes),
        levels_((moduli.size() + 1) * stride_, 0),
        scratch_(stride_, 0),
        ones_(stride_ + 2, ~std::uint64_t{0}),
        children_(moduli.size() + 1),
        keys_(moduli.size() + 1),
        key_hashes_(moduli.size() + 1, 0) {
    std::size_t total = 0;
    pattern_start_.resize(mod_.size());
    for (std::size_t j = 0; j < mod_.size(); ++j) {
      fast_[j] = FastMod(mod_[j]);
      pattern_start_[j] = total;
      total += root_words_ + static_cast<std::size_t>(mod_[j] / 64) + 2;
    }
    patterns_.assign(total, 0);
    for (std::size_t j = 0; j < mod_.size(); ++j) {
      std::uint64_t* p = patterns_.data() + pattern_start_[j];
      const std::size_t words = root_words_ + static_cast<std::size_t>(mod_[j] / 64) + 2;
      const std::uint64_t m = mod_[j];
      const std::uint64_t repeat = m / (std::uint64_t{1} << std::min(std::countr_zero(m), 6));
      const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(repeat, words));
      for (std::uint64_t b = 0; b < 64 * first; b += m) p[b / 64] |= std::uint64_t{1} << (b % 64);
      for (std::size_t w = first; w < words; ++w) p[w] = p[w - first];
    }
    for (const PrimeFactor& f : factor_small(period)) primes_.push_back(f.prime);
    valuations_.resize(mod_.size() * primes_.size());
    for (std::size_t j = 0; j < mod_.size(); ++j) {
      for (std::size_t q = 0; q < primes_.size(); ++q) {
        unsigned e = 0;
        for (std::uint64_t m = mod_[j]; m % primes_[q] == 0; m /= primes_[q]) ++e;
        valuations_[j * primes_.size() + q] = e;
      }
    }
  }

  // Fixes the smallest modulus at residue 0 (every cover can be translated
  // so that it is) and searches the rest.
  SearchOutcome run() {
    std::size_t first = 0;
    for (std::size_t j = 1; j < mod_.size(); ++j) {
      if (mod_[j] < mod_[first]) first = j;
    }
    std::uint64_t* root = level(0);
    std::fill(root, root + root_words_, ~std::uint64_t{0});
    root[root_words_ - 1] = low_mask(root_period_);
    kernels_.cut(root, root, window(first, 0).pattern, window(first, 0).shift, 0, root_words_);
    state_[first] = kAssigned;
    residue_[first] = 0;
    const std::uint64_t uncovered = root_period_ - root_period_ / mod_[first];
    if (uncovered == 0) return SearchOutcome::Found;
    if (options_.symmetry && mod_.size() >= 3) return explore_root(first, uncovered);
    return explore(0, root_period_, uncovered);
  }

  std::uint64_t nodes() const { return nodes_; }

  // The budget is spent, or the search was asked to stop: the stop flag is
  // read every kStopPollNodes nodes (a relaxed load, so the cost is nil) and
  // the search then ends as if out of budget.
  bool out_of_budget() const {
    if (nodes_ >= max_nodes_) return true;
    return options_.stop != nullptr && nodes_ % kStopPollNodes == 0 &&
           options_.stop->load(std::memory_order_relaxed);
  }

  // The residue of active modulus j in the cover found (0 when unassigned
  // or dropped).
  std::uint64_t residue(std::size_t j) const { return state_[j] == kAssigned ? residue_[j] : 0; }

 private:
  struct Window {
    const std::uint64_t* pattern;
    unsigned shift;
  };

  Window window(std::size_t j, std::uint64_t r) const {
    const std::uint64_t start = mod_[j] - r;
    return {patterns_.data() + pattern_start_[j] + start / 64, static_cast<unsigned>(start % 64)};
  }

  std::uint64_t* level(std::size_t depth) { return levels_.data() + depth * stride_; }

  // Assigns class r of modulus j below the node at depth, whose bitset
  // holds `uncovered` residues, into the bitset of depth + 1; returns what
  // is left uncovered.
  std::uint64_t assign(std::size_t depth, std::size_t j, std::uint64_t r, std::uint64_t uncovered) {
    const std::size_t words = words_for(root_period_);
    const std::uint64_t* bits = level(depth);
    const std::uint64_t covered = gain(bits, j, r, 0, words);
    const Window w = window(j, r);
    std::uint64_t* next = level(depth + 1);
    kernels_.cut(next, bits, w.pattern, w.shift, 0, words);
    next[words] = 0;
    state_[j] = kAssigned;
    residue_[j] = r;
    return uncovered - covered;
  }

  // The first three moduli by the affine symmetry (affine_symmetry.h): the
  // smallest at 0, the second at one residue per orbit, the third below
  // gcd(lcm of the first two, its modulus). Each choice is a node.
  SearchOutcome explore_root(std::size_t first, std::uint64_t uncovered) {
    const SymmetryPlan plan = plan_symmetry(mod_, first);
    for (const std::uint64_t r2 : plan.second_residues) {
      if (out_of_budget()) return SearchOutcome::BudgetExceeded;
      ++nodes_;
      const std::uint64_t left2 = assign(0, plan.second, r2, uncovered);
      if (left2 == 0) return SearchOutcome::Found;
      for (std::uint64_t r3 = 0; r3 < plan.third_residues; ++r3) {
        if (out_of_budget()) return SearchOutcome::BudgetExceeded;
        ++nodes_;
        const std::uint64_t left3 = assign(1, plan.third, r3, left2);
        if (left3 == 0) return SearchOutcome::Found;
        const SearchOutcome s = explore(2, root_period_, left3);
        if (s != SearchOutcome::NotFound) return s;
        state_[plan.third] = kUnassigned;
      }
      state_[plan.second] = kUnassigned;
    }
    return SearchOutcome::NotFound;
  }

  std::uint64_t gain(const std::uint64_t* bits, std::size_t j, std::uint64_t r, std::size_t first,
                     std::size_t end) const {
    const Window w = window(j, r);
    return kernels_.gain(bits, w.pattern, w.shift, first, end);
  }

  std::uint64_t popcount(const std::uint64_t* bits, std::size_t words) const {
    return kernels_.gain(bits, ones_.data(), 0, 0, words);
  }

  SearchOutcome explore(std::size_t depth, std::uint64_t period, std::uint64_t uncovered) {
    if (out_of_budget()) return SearchOutcome::BudgetExceeded;
    ++nodes_;
    std::size_t open = 0;
    std::uint64_t capacity = 0;
    for (std::size_t j = 0; j < mod_.size(); ++j) {
      if (state_[j] != kUnassigned) continue;
      ++open;
      capacity += period / mod_[j];
    }
    if (capacity < uncovered) return SearchOutcome::NotFound;
    if (open >= options_.heavy_min) return explore_heavy(depth, period, uncovered);
    return explore_light(depth, 0, period, uncovered, capacity);
  }

  // A node with few unassigned moduli: branch on the smallest uncovered
  // residue, children by gain, cut by capacity. Its descendants are all
  // light, and the smallest uncovered residue only moves right going down,
  // so the words left of from_word are zero and neither read nor written.
  SearchOutcome explore_light(std::size_t depth, std::size_t from_word, std::uint64_t period,
                              std::uint64_t uncovered, std::uint64_t capacity) {
    const std::uint64_t* bits = level(depth);
    const std::size_t words = words_for(period);
    std::size_t word = from_word;
    while (bits[word] == 0) {
      if (++word == words) search_abort("decision search: uncovered count and bitset disagree");
    }
    const std::uint64_t x = 64 * word + static_cast<std::uint64_t>(std::countr_zero(bits[word]));

    std::vector<Child>& children = children_[depth];
    children.clear();
    for (std::size_t j = 0; j < mod_.size(); ++j) {
      if (state_[j] != kUnassigned) continue;
      const std::uint64_t r = fast_[j](x);
      children.push_back({gain(bits, j, r, word, words), j, r});
    }
    if (children.size() == 1) {
      // The last modulus covers exactly when its class holds all that is left.
      if (children[0].gain != uncovered) return SearchOutcome::NotFound;
      state_[children[0].j] = kAssigned;
      residue_[children[0].j] = children[0].r;
      return SearchOutcome::Found;
    }
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.gain > b.gain; });
    for (std::size_t c = 0; c < children.size(); ++c) {
      const Child child = children_[depth][c];
      const std::uint64_t left = uncovered - child.gain;
      const std::uint64_t room = capacity - period / mod_[child.j];
      state_[child.j] = kAssigned;
      residue_[child.j] = child.r;
      if (left == 0) return SearchOutcome::Found;
      SearchOutcome s = SearchOutcome::NotFound;
      if (room >= left) {
        const Window w = window(child.j, child.r);
        kernels_.cut(level(depth + 1), bits, w.pattern, w.shift, word, words);
        if (out_of_budget()) {
          s = SearchOutcome::BudgetExceeded;
        } else {
          ++nodes_;
          s = explore_light(depth + 1, word, period, left, room);
        }
      }
      if (s == SearchOutcome::Found) return s;
      state_[child.j] = kUnassigned;
      if (s == SearchOutcome::BudgetExceeded) return s;
    }
    return SearchOutcome::NotFound;
  }

  // The bitset folded onto a divisor of its period: a residue y of the
  // smaller period is uncovered when some residue above it is.
  void fold(std::uint64_t* bits, std::uint64_t period, std::uint64_t target) {
    const std::size_t words = words_for(period);
    const std::size_t target_words = words_for(target);
    std::fill(scratch_.begin(), scratch_.begin() + static_cast<std::ptrdiff_t>(target_words), 0);
    for (std::uint64_t base = 0; base < period; base += target) {
      for (std::size_t w = 0; w < target_words; ++w) scratch_[w] |= read_bits(bits, base + 64 * w);
    }
    scratch_[target_words - 1] &= low_mask(target);
    std::copy(scratch_.begin(), scratch_.begin() + static_cast<std::ptrdiff_t>(target_words), bits);
    std::fill(bits + target_words, bits + words + 1, 0);
  }

  // True when the uncovered residues are a union of whole fibres of
  // period / step: every residue agrees with the one step above it.
  bool invariant(const std::uint64_t* bits, std::uint64_t period, std::uint64_t step) const {
    const std::size_t step_words = words_for(step);
    for (std::uint64_t base = step; base < period; base += step) {
      for (std::size_t w = 0; w < step_words; ++w) {
        std::uint64_t diff = read_bits(bits, base + 64 * w) ^ bits[w];
        if (w + 1 == step_words) diff &= low_mask(step);
        if (diff != 0) return false;
      }
    }
    return true;
  }

  std::uint64_t unassigned_lcm() const {
    std::uint64_t l = 1;
    for (std::size_t j = 0; j < mod_.size(); ++j) {
      if (state_[j] == kUnassigned) l = l / gcd_u64(l, mod_[j]) * mod_[j];
    }
    return l;
  }

  // The exponent e of primes_[q] in period (into e), and how many unassigned
  // moduli have the full p-part p^e.
  std::uint64_t full_p_part(std::size_t q, std::uint64_t period, unsigned& e) const {
    e = 0;
    for (std::uint64_t rest = period; rest % primes_[q] == 0; rest /= primes_[q]) ++e;
    if (e == 0) return 0;
    std::uint64_t members = 0;
    for (std::size_t j = 0; j < mod_.size(); ++j) {
      if (state_[j] == kUnassigned && valuations_[j * primes_.size() + q] == e) ++members;
    }
    return members;
  }

  // Projection and the |A| < p step, repeated until neither applies. The
  // moduli dropped are recorded in dropped_ for the caller to restore.
  void shrink(std::size_t depth, std::uint64_t& period, std::uint64_t& uncovered) {
    std::uint64_t* bits = level(depth);
    for (;;) {
      if (options_.project) {
        const std::uint64_t l = unassigned_lcm();
        if (l < period) {
          fold(bits, period, l);
          period = l;
          uncovered = popcount(bits, words_for(period));
        }
      }
      if (!options_.reduce_in_search) return;
      bool dropped = false;
      for (std::size_t q = 0; q < primes_.size() && !dropped; ++q) {
        const std::uint64_t p = primes_[q];
        unsigned e = 0;
        const std::uint64_t members = full_p_part(q, period, e);
        if (e == 0) continue;
        if (members >= p || !invariant(bits, period, period / p)) continue;
        for (std::size_t j = 0; j < mod_.size(); ++j) {
          if (state_[j] == kUnassigned && valuations_[j * primes_.size() + q] == e) {
            state_[j] = kDropped;
            dropped_.push_back(j);
          }
        }
        fold(bits, period, period / p);
        period /= p;
        uncovered = popcount(bits, words_for(period));
        dropped = true;
      }
      if (!dropped) return;
    }
  }

  // The memo key of a state into keys_[depth], its hash into
  // key_hashes_[depth]: the period and the number of unassigned moduli in
  // one word (periods and moduli stay below 2^32 under kPeriodLimit), the
  // unassigned moduli in increasing order two to a word, then the bitset.
  void build_key(std::size_t depth, const std::uint64_t* bits, std::uint64_t period) {
    sorted_.clear();
    for (std::size_t j = 0; j < mod_.size(); ++j) {
      if (state_[j] == kUnassigned) sorted_.push_back(mod_[j]);
    }
    std::sort(sorted_.begin(), sorted_.end());
    std::vector<std::uint64_t>& key = keys_[depth];
    key.clear();
    key.push_back(period | std::uint64_t{sorted_.size()} << 32);
    for (std::size_t i = 0; i < sorted_.size(); i += 2) {
      key.push_back(sorted_[i] | (i + 1 < sorted_.size() ? sorted_[i + 1] << 32 : 0));
    }
    key.insert(key.end(), bits, bits + words_for(period));
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (const std::uint64_t v : key) {
      h = (h ^ v) * 0xff51afd7ed558ccdULL;
      h ^= h >> 32;
    }
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ULL;
    h ^= h >> 32;
    key_hashes_[depth] = h;
  }

  // The counts of every class of modulus j over the uncovered residues.
  void count_classes(ClassCounts& cc, const std::uint64_t* bits, std::uint64_t period) {
    const std::size_t words = words_for(period);
    const std::uint64_t m = cc.m;
    if (m < 32) {
      cc.sliced = false;
      cc.offset = counts_.size();
      for (std::uint64_t r = 0; r < m; ++r) {
        const std::uint64_t c = gain(bits, cc.j, r, 0, words);
        counts_.push_back(c);
        cc.best = std::max(cc.best, c);
      }
      return;
    }
    // Rows of m bits, one per multiple of m below the period, added into
    // bit-sliced column counters.
    cc.sliced = true;
    cc.row_words = words_for(m);
    const std::uint64_t rows = period / m;
    cc.planes = static_cast<unsigned>(std::bit_width(rows));
    cc.offset = planes_.size();
    planes_.resize(planes_.size() + cc.planes * cc.row_words, 0);
    std::uint64_t* planes = planes_.data() + cc.offset;
    const std::uint64_t last = low_mask(m);
    for (std::uint64_t i = 0; i < rows; ++i) {
      for (std::size_t w = 0; w < cc.row_words; ++w) {
        std::uint64_t row = read_bits(bits, i * m + 64 * w);
        if (w + 1 == cc.row_words) row &= last;
        add_to_planes(planes + w, cc.row_words, cc.planes, row);
      }
    }
    // The best count: keep the columns that have each bit, from the top,
    // whenever some column has it.
    std::uint64_t candidates[4];
    std::vector<std::uint64_t> wide;
    std::uint64_t* cand = cc.row_words <= 4 ? candidates : (wide.resize(cc.row_words), wide.data());
    for (std::size_t w = 0; w < cc.row_words; ++w) cand[w] = w + 1 == cc.row_words ? last : ~0ULL;
    for (unsigned b = cc.planes; b-- > 0;) {
      std::uint64_t any = 0;
      for (std::size_t w = 0; w < cc.row_words; ++w) any |= cand[w] & planes[b * cc.row_words + w];
      if (any == 0) continue;
      cc.best |= std::uint64_t{1} << b;
      for (std::size_t w = 0; w < cc.row_words; ++w) cand[w] &= planes[b * cc.row_words + w];
    }
  }

  std::uint64_t class_count(const ClassCounts& cc, std::uint64_t r) const {
    if (!cc.sliced) return counts_[cc.offset + r];
    std::uint64_t c = 0;
    const std::uint64_t* planes = planes_.data() + cc.offset;
    for (unsigned b = 0; b < cc.planes; ++b) {
      c |= ((planes[b * cc.row_words + r / 64] >> (r % 64)) & 1) << b;
    }
    return c;
  }

  // Marks in work_ the classes of cc whose count reaches need.
  void mark_workable(ClassCounts& cc, std::uint64_t need) {
    const std::size_t words = words_for(cc.m);
    cc.work = work_.size();
    work_.resize(work_.size() + words, 0);
    std::uint64_t* out = work_.data() + cc.work;
    if (need > cc.best) return;
    if (!cc.sliced) {
      for (std::uint64_t r = 0; r < cc.m; ++r) {
        if (counts_[cc.offset + r] >= need) out[r / 64] |= std::uint64_t{1} << (r % 64);
      }
      return;
    }
    // need <= best, so need fits in the planes.
    const std::uint64_t* planes = planes_.data() + cc.offset;
    for (std::size_t w = 0; w < words; ++w) {
      out[w] = planes_at_least(planes + w, cc.row_words, cc.planes, need);
      if (w + 1 == words) out[w] &= low_mask(cc.m);
    }
  }

  // A node with many unassigned moduli (see the header).
  SearchOutcome explore_heavy(std::size_t depth, std::uint64_t period, std::uint64_t uncovered) {
    const std::size_t dropped_mark = dropped_.size();
    const std::uint64_t nodes_before = nodes_;
    shrink(depth, period, uncovered);
    bool remembered = false;
    const SearchOutcome s = heavy_body(depth, period, uncovered, remembered);
    if (s == SearchOutcome::NotFound && memo_ != nullptr && !remembered &&
        nodes_ - nodes_before >= options_.memo_min_nodes) {
      memo_->insert(keys_[depth], key_hashes_[depth]);
    }
    if (s != SearchOutcome::Found) {
      while (dropped_.size() > dropped_mark) {
        state_[dropped_.back()] = kUnassigned;
        dropped_.pop_back();
      }
    }
    return s;
  }

  SearchOutcome heavy_body(std::size_t depth, std::uint64_t period, std::uint64_t uncovered,
                           bool& remembered) {
    std::uint64_t* bits = level(depth);
    const std::size_t words = words_for(period);
    std::uint64_t capacity = 0;
    std::size_t open = 0;
    for (std::size_t j = 0; j < mod_.size(); ++j) {
      if (state_[j] != kUnassigned) continue;
      ++open;
      capacity += period / mod_[j];
    }
    remembered = true;  // nothing worth storing until the memo is asked
    if (capacity < uncovered) return SearchOutcome::NotFound;
    if (open < options_.heavy_min) return explore_light(depth, 0, period, uncovered, capacity);
    if (memo_ != nullptr) {
      build_key(depth, bits, period);
      if (memo_->contains(keys_[depth], key_hashes_[depth])) return SearchOutcome::NotFound;
      remembered = false;
    }

    std::vector<Child>& children = children_[depth];
    children.clear();
    std::uint64_t x = 0;
    if (options_.bound || options_.fail_first) {
      counts_.clear();
      planes_.clear();
      work_.clear();
      std::vector<ClassCounts> classes;
      classes.reserve(open);
      std::uint64_t best_sum = 0;
      for (std::size_t j = 0; j < mod_.size(); ++j) {
        if (state_[j] != kUnassigned) continue;
        classes.push_back({});
        classes.back().j = j;
        classes.back().m = mod_[j];
        count_classes(classes.back(), bits, period);
        best_sum += classes.back().best;
      }
      if (options_.bound && best_sum < uncovered) return SearchOutcome::NotFound;
      // A choice is workable when what it leaves can still be covered: by
      // the other moduli's best counts, or without the bound by their
      // capacity.
      for (ClassCounts& cc : classes) {
        const std::uint64_t others = options_.bound ? best_sum - cc.best : capacity - period / cc.m;
        mark_workable(cc, uncovered > others ? uncovered - others : 1);
      }
      if (options_.fibres && !find_fibre_limits(bits, period, open)) return SearchOutcome::NotFound;
      std::size_t limit = kNoLimit;
      x = choose_residue(bits, words, classes, limit);
      if (x == kNoChoice) return SearchOutcome::NotFound;
      for (const ClassCounts& cc : classes) {
        if (limit != kNoLimit && !below_limit(cc.j, fibre_limits_[limit])) continue;
        const std::uint64_t r = fast_[cc.j](x);
        if ((work_[cc.work + r / 64] >> (r % 64) & 1) == 0) continue;
        children.push_back({class_count(cc, r), cc.j, r});
      }
    } else {
      std::size_t word = 0;
      while (bits[word] == 0) ++word;
      x = 64 * word + static_cast<std::uint64_t>(std::countr_zero(bits[word]));
      for (std::size_t j = 0; j < mod_.size(); ++j) {
        if (state_[j] != kUnassigned) continue;
        const std::uint64_t r = fast_[j](x);
        children.push_back({gain(bits, j, r, 0, words), j, r});
      }
    }
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.gain > b.gain; });

    for (std::size_t c = 0; c < children_[depth].size(); ++c) {
      const Child child = children_[depth][c];
      const std::uint64_t left = uncovered - child.gain;
      state_[child.j] = kAssigned;
      residue_[child.j] = child.r;
      if (left == 0) return SearchOutcome::Found;
      SearchOutcome s = SearchOutcome::NotFound;
      if (capacity - period / mod_[child.j] >= left) {
        std::uint64_t* next = level(depth + 1);
        const Window w = window(child.j, child.r);
        kernels_.cut(next, bits, w.pattern, w.shift, 0, words);
        next[words] = 0;
        s = explore(depth + 1, period, left);
      }
      if (s == SearchOutcome::Found) return s;
      state_[child.j] = kUnassigned;
      if (s == SearchOutcome::BudgetExceeded) {
        remembered = true;
        return s;
      }
    }
    return SearchOutcome::NotFound;
  }

  static constexpr std::uint64_t kNoChoice = ~std::uint64_t{0};
  static constexpr std::size_t kNoLimit = ~std::size_t{0};

  // An over-full fibre rule of the node (fibre_rule.h): residues x whose
  // fibre x mod step is marked may only be covered by moduli whose p-part
  // is below p^e.
  struct FibreLimit {
    std::size_t prime;  // index into primes_
    unsigned exponent;
    FastMod step;
    std::size_t mask;  // offset into fibre_masks_
  };

  bool below_limit(std::size_t j, const FibreLimit& limit) const {
    return valuations_[j * primes_.size() + limit.prime] < limit.exponent;
  }

  bool in_overfull_fibre(std::uint64_t x, const FibreLimit& limit) const {
    return test_bit(fibre_masks_.data() + limit.mask, limit.step(x));
  }

  // The fibre rules of a heavy node into fibre_limits_; false when some
  // over-full fibre has no unassigned modulus of smaller p-part, which fails
  // the node.
  bool find_fibre_limits(const std::uint64_t* bits, std::uint64_t period, std::size_t open) {
    fibre_limits_.clear();
    fibre_masks_.clear();
    for (std::size_t q = 0; q < primes_.size(); ++q) {
      const std::uint64_t p = primes_[q];
      unsigned e = 0;
      const std::uint64_t full = full_p_part(q, period, e);
      if (e == 0 || full >= p) continue;
      const std::size_t mask = fibre_masks_.size();
      fibre_masks_.resize(mask + words_for(period / p), 0);
      if (!mark_overfull_fibres(bits, period, p, full, fibre_planes_, fibre_masks_.data() + mask)) {
        fibre_masks_.resize(mask);
        continue;
      }
      if (full == open) return false;
      fibre_limits_.push_back({q, e, FastMod(period / p), mask});
    }
    return true;
  }

  // The uncovered residue with the fewest workable choices among the first
  // scan_limit (the first with one choice ends the scan); kNoChoice when one
  // has none, which fails the node. Without fail first, the smallest.
  // Residues in over-full fibres come first, each counting only the choices
  // its tightest fibre rule allows; that rule's index goes to limit.
  std::uint64_t choose_residue(const std::uint64_t* bits, std::size_t words,
                               const std::vector<ClassCounts>& classes, std::size_t& limit) const {
    std::uint64_t best_x = kNoChoice;
    std::size_t best_choices = ~std::size_t{0};
    std::size_t scanned = 0;
    const std::size_t scan = options_.fail_first ? options_.scan_limit : 1;
    // Returns true when the scan is over.
    const auto consider = [&](std::uint64_t x, bool in_fibres) {
      ++scanned;
      std::size_t choices = 0;
      for (const ClassCounts& cc : classes) {
        const std::uint64_t r = fast_[cc.j](x);
        choices += (work_[cc.work + r / 64] >> (r % 64)) & 1;
      }
      std::size_t rule = kNoLimit;
      if (in_fibres) {
        for (std::size_t f = 0; f < fibre_limits_.size(); ++f) {
          if (!in_overfull_fibre(x, fibre_limits_[f])) continue;
          std::size_t allowed = 0;
          for (const ClassCounts& cc : classes) {
            if (!below_limit(cc.j, fibre_limits_[f])) continue;
            const std::uint64_t r = fast_[cc.j](x);
            allowed += (work_[cc.work + r / 64] >> (r % 64)) & 1;
          }
          if (allowed < choices) {
            choices = allowed;
            rule = f;
          }
        }
      }
      if (choices == 0) {
        best_x = kNoChoice;
        return true;
      }
      if (choices < best_choices) {
        best_choices = choices;
        best_x = x;
        limit = rule;
        if (choices == 1) return true;
      }
      return scanned >= scan;
    };
    const auto in_some_fibre = [&](std::uint64_t x) {
      for (const FibreLimit& f : fibre_limits_) {
        if (in_overfull_fibre(x, f)) return true;
      }
      return false;
    };
    const bool fibres = !fibre_limits_.empty();
    for (int pass = fibres ? 0 : 1; pass < 2; ++pass) {
      for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t v = bits[w]; v != 0; v &= v - 1) {
          const std::uint64_t x = 64 * w + static_cast<std::uint64_t>(std::countr_zero(v));
          const bool in = fibres && in_some_fibre(x);
          if (in != (pass == 0)) continue;
          if (consider(x, in)) return best_x;
        }
      }
    }
    return best_x;
  }

  const WideBitsetKernels& kernels_;
  const DecisionOptions& options_;
  DecisionMemo* memo_;
  std::vector<std::uint64_t> mod_;
  std::vector<FastMod> fast_;
  std::vector<std::uint8_t> state_;
  std::vector<std::uint64_t> residue_;
  std::uint64_t root_period_;
  std::size_t root_words_;
  std::size_t stride_;
  std::uint64_t nodes_ = 0;
  std::uint64_t max_nodes_;
  std::vector<std::uint64_t> levels_;
  std::vector<std::uint64_t> scratch_;
  std::vector<std::uint64_t> ones_;
  std::vector<std::uint64_t> patterns_;
  std::vector<std::size_t> pattern_start_;
  std::vector<std::uint64_t> primes_;
  std::vector<unsigned> valuations_;
  std::vector<std::size_t> dropped_;
  std::vector<std::vector<Child>> children_;
  std::vector<std::vector<std::uint64_t>> keys_;
  std::vector<std::uint64_t> key_hashes_;
  std::vector<std::uint64_t> sorted_;
  std::vector<std::uint64_t> counts_;
  std::vector<std::uint64_t> planes_;
  std::vector<std::uint64_t> work_;
  std::vector<FibreLimit> fibre_limits_;
  std::vector<std::uint64_t> fibre_masks_;
  std::vector<std::uint64_t> fibre_planes_;
};

// The reciprocal-sum pre-test as find_cover makes it.
// The moduli search on the reduced set, polling the stop flag; an error
// (it wants distinct moduli, which a merge may not leave) means the set
// stays with this search.
std::optional<ModuliDecision> hand_to_moduli_search(std::span<const std::uint64_t> active,
                                                    std::uint64_t budget,
                                                    const std::atomic<bool>* stop) {
  const ModuliProgress progress = [stop](std::uint64_t) {
    return stop == nullptr || !stop->load(std::memory_order_relaxed);
  };
  // The census looks for covers with its own local search, before this
  // search; the sets handed over are mostly refuted, so the moduli search's
  // local search would be time lost.
  ModuliOptions options;
  options.local_search = false;
  auto decided = decide_moduli(active, budget, options, nullptr, progress);
  if (!decided) return std::nullopt;
  return std::move(*decided);
}

bool sum_below_one(std::span<const std::uint64_t> moduli, const std::optional<std::uint64_t>& lcm) {
  if (!lcm) return reciprocal_sum_below_one(moduli);
  u128 sum = 0;
  for (std::uint64_t m : moduli) sum += *lcm / m;
  return sum < *lcm;
}

}  // namespace

Result<CoverDecision> decide_cover(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                   DecisionMemo* memo) {
  return decide_cover(moduli, max_nodes, memo, detected_simd_level(), DecisionOptions{});
}

Result<CoverDecision> decide_cover(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                   DecisionMemo* memo, SimdLevel level) {
  return decide_cover(moduli, max_nodes, memo, level, DecisionOptions{});
}

Result<CoverDecision> decide_cover(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                   DecisionMemo* memo, SimdLevel level,
                                   const DecisionOptions& options) {
  CoverDecision out;
  if (moduli.empty()) return out;
  if (std::find(moduli.begin(), moduli.end(), 0) != moduli.end()) {
    return fail("modulus 0 has no residues");
  }
  const std::optional<std::uint64_t> lcm = checked_lcm_of(moduli);
  if (sum_below_one(moduli, lcm)) return out;
  auto period = common_period(moduli);
  if (!period) return std::move(period).take_error();

  PrimePowerReduction reduction;
  if (options.reduce) {
    reduction = reduce_prime_powers(moduli, *period, options.merge);
  } else {
    reduction.items.assign(moduli.begin(), moduli.end());
    reduction.active.assign(moduli.size(), 1);
    reduction.period = *period;
  }
  std::vector<std::uint64_t> active;
  std::vector<std::size_t> active_items;
  for (std::size_t i = 0; i < reduction.items.size(); ++i) {
    if (reduction.active[i] == 0) continue;
    active.push_back(reduction.items[i]);
    active_items.push_back(i);
  }
  if (active.empty()) return out;

  std::vector<std::uint64_t> residues(reduction.items.size(), 0);
  const bool trivially = reduction.period == 1;  // a modulus 1 covers everything
  if (!trivially) {
    std::uint64_t capacity = 0;
    for (std::uint64_t m : active) capacity += reduction.period / m;
    if (capacity < reduction.period) return out;
    if (options.local_search && active.size() >= options.local_min_moduli &&
        reduction.period >= options.local_min_period) {
      if (auto found = local_cover_search(active, options.local_moves, local_search_seed(moduli))) {
        std::vector<std::uint64_t> tried = residues;
        for (std::size_t j = 0; j < active.size(); ++j) tried[active_items[j]] = (*found)[j];
        expand_merged_residues(reduction, tried);
        tried.resize(moduli.size());
        // Counted only once the cover check confirms it on the set itself;
        // otherwise the exhaustive search decides.
        std::vector<Congruence> cover;
        cover.reserve(moduli.size());
        for (std::size_t i = 0; i < moduli.size(); ++i) cover.push_back({moduli[i], tried[i]});
        if (verify_displayed_cover(cover, *period)) {
          out.outcome = SearchOutcome::Found;
          out.residues = std::move(tried);
          return out;
        }
      }
    }
    const auto search = [&](std::uint64_t budget) {
      DecisionDfs dfs(active, reduction.period, budget, memo, wide_bitset_kernels(level), options);
      out.outcome = dfs.run();
      out.nodes += dfs.nodes();
      if (out.outcome != SearchOutcome::Found) return;
      for (std::size_t j = 0; j < active.size(); ++j) residues[active_items[j]] = dfs.residue(j);
    };
    std::uint64_t left = max_nodes;
    bool settled = false;
    // The decision search first, with a small budget: it settles most sets
    // in far fewer nodes than that, sooner than the moduli search would set
    // up its class counts.
    if (options.moduli_search && active.size() >= options.moduli_min_moduli &&
        options.moduli_probe_nodes < max_nodes) {
      search(options.moduli_probe_nodes);
      settled = out.outcome != SearchOutcome::BudgetExceeded;
      if (!settled) {
        if (options.stop != nullptr && options.stop->load(std::memory_order_relaxed)) return out;
        if (left != UINT64_MAX) left -= out.nodes;
        const auto handed =
            hand_to_moduli_search(active, std::min(left, options.moduli_max_nodes), options.stop);
        if (handed) {
          out.nodes += handed->nodes;
          if (left != UINT64_MAX) left -= std::min(left, handed->nodes);
          if (handed->outcome == ModuliOutcome::Stopped) return out;
          if (handed->outcome == ModuliOutcome::NoCovering) {
            out.outcome = SearchOutcome::NotFound;
            return out;
          }
          if (handed->outcome == ModuliOutcome::Covering) {
            for (std::size_t j = 0; j < active.size(); ++j) {
              residues[active_items[j]] = handed->residues[j];
            }
            out.outcome = SearchOutcome::Found;
            settled = true;
          }
        }
        if (!settled && left == 0) return out;
      }
    }
    if (!settled) search(left);
    if (out.outcome != SearchOutcome::Found) return out;
  }
  out.outcome = SearchOutcome::Found;
  expand_merged_residues(reduction, residues);
  residues.resize(moduli.size());
  out.residues = residues;

  std::vector<Congruence> cover;
  cover.reserve(moduli.size());
  for (std::size_t i = 0; i < moduli.size(); ++i) cover.push_back({moduli[i], residues[i]});
  if (!verify_displayed_cover(cover, *period)) {
    search_abort("decision search found residues that do not cover");
  }
  return out;
}

namespace {

std::vector<std::uint64_t> without(std::span<const std::uint64_t> moduli, std::size_t skip) {
  std::vector<std::uint64_t> out;
  out.reserve(moduli.size());
  for (std::size_t i = 0; i < moduli.size(); ++i) {
    if (i != skip) out.push_back(moduli[i]);
  }
  return out;
}

}  // namespace

Result<IrreducibilityVerdict> decide_irreducible_fast(std::span<const std::uint64_t> moduli,
                                                      std::uint64_t max_nodes, DecisionMemo* memo) {
  return decide_irreducible_fast(moduli, max_nodes, memo, detected_simd_level(), {});
}

Result<IrreducibilityVerdict> decide_irreducible_fast(std::span<const std::uint64_t> moduli,
                                                      std::uint64_t max_nodes, DecisionMemo* memo,
                                                      SimdLevel level,
                                                      const DecisionOptions& options,
                                                      DominanceStore* dominance,
                                                      CoverStore* covers) {
  IrreducibilityVerdict out;
  // The stores take sets in increasing order, without repeats.
  std::vector<std::uint64_t> sorted(moduli.begin(), moduli.end());
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
    dominance = nullptr;
    covers = nullptr;
  }
  if (!options.dominance && !options.deletions) dominance = nullptr;
  if (!options.covers) covers = nullptr;
  DominanceStore* const whole_store = options.dominance ? dominance : nullptr;
  DominanceStore* const deletion_store = options.deletions ? dominance : nullptr;
  if (whole_store != nullptr && whole_store->dominated(sorted)) {
    whole_store->insert(sorted);
    return out;
  }
  if (covers != nullptr && covers->covering_deletion(sorted)) {
    out.verdict = Verdict::Reducible;
    return out;
  }
  auto whole = decide_cover(moduli, max_nodes, memo, level, options);
  if (!whole) return std::move(whole).take_error();
  out.nodes = whole->nodes;
  if (whole->outcome == SearchOutcome::NotFound) {
    if (whole_store != nullptr) whole_store->insert(sorted);
    return out;
  }
  const bool whole_known = whole->outcome == SearchOutcome::Found;
  if (whole_known && options.reduce && prime_power_reducible(moduli)) {
    out.verdict = Verdict::Reducible;
    return out;
  }
  const std::optional<std::uint64_t> lcm = checked_lcm_of(moduli);
  if (whole_known && options.redundant && lcm) {
    if (const auto redundant = redundant_class(moduli, whole->residues, *lcm)) {
      // The other classes cover: the set less that modulus covers.
      if (covers != nullptr) {
        const auto at = std::lower_bound(sorted.begin(), sorted.end(), moduli[*redundant]);
        covers->insert(without(sorted, static_cast<std::size_t>(at - sorted.begin())));
      }
      out.verdict = Verdict::Reducible;
      return out;
    }
  }
  // Deleting a large modulus leaves the most to cover, so such deletions
  // are the likeliest to fail fast or to be settled by the store; the order
  // does not change the verdict.
  std::vector<std::size_t> order(moduli.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (options.redundant) {
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return moduli[a] > moduli[b]; });
  }
  bool undecided = !whole_known;
  const std::vector<std::uint64_t> extensions = whole_store != nullptr && lcm
                                                    ? DominanceStore::extensions_of(*lcm)
                                                    : std::vector<std::uint64_t>{};
  // The deletions of a covering set rarely cover, so the local search,
  // which can only find covers, would be time lost on them.
  DecisionOptions deletion_options = options;
  deletion_options.local_search = false;
  for (const std::size_t i : order) {
    const auto at = std::lower_bound(sorted.begin(), sorted.end(), moduli[i]) - sorted.begin();
    const std::vector<std::uint64_t> deletion = without(sorted, static_cast<std::size_t>(at));
    if (!extensions.empty() && whole_store->extension_stored(deletion, extensions)) continue;
    // A deletion stored, or one whose modulus replaced by a divisor is
    // stored, does not cover (dominance_store.h).
    if (deletion_store != nullptr &&
        (deletion_store->contains(deletion) || deletion_store->dominated(deletion))) {
      continue;
    }
    auto search = decide_cover(without(moduli, i), max_nodes, memo, level, deletion_options);
    if (!search) return std::move(search).take_error();
    out.nodes += search->nodes;
    if (search->outcome == SearchOutcome::Found) {
      if (covers != nullptr) covers->insert(deletion);
      out.verdict = Verdict::Reducible;
      return out;
    }
    if (search->outcome == SearchOutcome::NotFound && deletion_store != nullptr) {
      deletion_store->insert(deletion);
    }
    if (search->outcome == SearchOutcome::BudgetExceeded) undecided = true;
  }
  if (undecided) {
    out.verdict = Verdict::Undecided;
    return out;
  }
  out.verdict = Verdict::Irreducible;
  out.residues = std::move(whole->residues);
  return out;
}

}  // namespace tilvane
