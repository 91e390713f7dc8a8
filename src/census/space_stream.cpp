#include "census/space_stream.h"

#include <algorithm>
#include <numeric>
#include <span>
#include <utility>

#include "base/checked_math.h"
#include "base/text_format.h"
#include "census/value_sieve.h"

namespace tilvane {

// The tables of a common-multiple space, indexed by value up to `top`, the
// largest admitted least common multiple (for a Simpson space often far
// below the bound).
//
// A prefix of a candidate is described by its least common multiple l, its
// last element a and the number r of elements still to choose. Its
// completions are the r-sets S of values above a with lcm(l, S) = L
// admitted. Counting r-sets of divisors above a of each d and inverting over
// the divisor lattice gives
//
//   completions(l, a, r) = sum over d <= top with l | d of W(d) C(c_a(d), r),
//
// c_a(d) being the number of divisors of d above a and W(d) the sum of
// mu(m) over the m with d m admitted. With l = a = 1 this is the count of
// the whole space.
//
// Whether a prefix has any completion is decided by a cheaper exact test.
// If S completes (l, a, r), its multiple L is admitted, a multiple of l, and
// has at least r divisors above a. Conversely such an L is completed by its
// r largest divisors, L among them. So the prefix has a completion exactly
// when a < reach_r(l), where reach_s(l) is the greatest s-th largest divisor
// (from 2 on) of an admitted multiple of l, or 0 when none has s such
// divisors. A complete prefix (r = 0) counts exactly when its own multiple is
// admitted.
struct SpaceCursor::Tables {
  CensusSpace space;
  std::uint64_t count = 0;
  std::uint32_t top = 0;
  std::vector<std::uint32_t> least_prime;
  std::vector<std::uint8_t> admitted;
  std::vector<std::int32_t> weight;
  // Rows s = 1 .. max(k - 1, 1), each indexed by l up to top; row 1 holds
  // the largest admitted multiple of l, 0 when l divides none.
  std::vector<std::uint32_t> reach;
  // C(n, j) modulo 2^64 for n up to the most divisors of a value, j up to k.
  std::vector<std::uint64_t> pascal;
  // The sorted divisors of every value that divides an admitted one, those
  // of v at divisor_start[v] .. divisor_start[v + 1]; left empty when they
  // would take more than kDivisorTableLimit entries, and then recomputed
  // from least_prime on each use.
  std::vector<std::uint32_t> divisor_start;
  std::vector<std::uint32_t> divisor_pool;

  static constexpr std::uint64_t kDivisorTableLimit = std::uint64_t{1} << 24;

  std::uint32_t reach_of(std::size_t s, std::uint64_t l) const {
    return reach[(s - 1) * (static_cast<std::size_t>(top) + 1) + static_cast<std::size_t>(l)];
  }
  std::uint64_t binomial(std::size_t n, std::size_t j) const {
    return pascal[n * (space.k + 1) + j];
  }

  Status build();
  std::span<const std::uint32_t> divisors(std::uint32_t value,
                                          std::vector<std::uint32_t>& scratch) const;
  void children(std::uint32_t lcm, std::uint32_t last, std::size_t remaining,
                std::vector<Child>& out, std::vector<std::uint32_t>& scratch) const;
  std::uint64_t completions(std::uint32_t lcm, std::uint32_t last, std::size_t remaining,
                            std::vector<std::uint32_t>& scratch) const;
  void dense_completions(std::uint32_t lcm, std::uint32_t first, std::size_t remaining,
                         std::vector<std::uint64_t>& counts,
                         std::vector<std::uint32_t>& scratch) const;
};

// The divisors of value, 1 and value included, in increasing order: from the
// table, or from the factorisation by least prime factors into scratch.
std::span<const std::uint32_t> SpaceCursor::Tables::divisors(
    std::uint32_t value, std::vector<std::uint32_t>& scratch) const {
  if (!divisor_start.empty()) {
    return std::span(divisor_pool)
        .subspan(divisor_start[value], divisor_start[value + 1] - divisor_start[value]);
  }
  scratch.assign(1, 1);
  while (value > 1) {
    const std::uint32_t p = least_prime[value];
    std::uint32_t power = 1;
    const std::size_t before = scratch.size();
    while (value % p == 0) {
      value /= p;
      power *= p;
      for (std::size_t i = 0; i < before; ++i) scratch.push_back(scratch[i] * power);
    }
  }
  std::sort(scratch.begin(), scratch.end());
  return scratch;
}

// Everything is computed up to the bound once, to find top, and then kept up
// to top only. The sieve gives the Möbius function, Simpson's n and the
// divisor counts; W comes from one pass over the
// multiples of each d. The count of the whole space, recomputed here in
// 64-bit arithmetic from these tables, must equal count_space's: every
// quantity the cursor computes is the size of part of the space, so working
// modulo 2^64 gives it exactly, and this check binds the tables to the count.
Status SpaceCursor::Tables::build() {
  const std::size_t k = space.k;
  const auto size = static_cast<std::size_t>(space.bound) + 1;
  ValueSieve sieve(space.bound);
  least_prime = std::move(sieve.least_prime);
  const std::vector<std::int8_t>& mobius = sieve.mobius;
  const std::vector<std::uint32_t>& divisor_count = sieve.divisors;
  admitted.assign(size, 1);
  if (space.kind == SpaceKind::Simpson) {
    for (std::size_t v = 2; v < size; ++v) admitted[v] = sieve.simpson[v] < k ? 1 : 0;
  }
  std::size_t largest = size - 1;
  while (largest > 1 && admitted[largest] == 0) --largest;
  top = static_cast<std::uint32_t>(largest);
  const std::size_t kept = largest + 1;
  least_prime.resize(kept);
  least_prime.shrink_to_fit();
  admitted.resize(kept);
  admitted.shrink_to_fit();

  // One pass over the products L = d m up to top gives W(d) and, as the
  // divisors d of each admitted L arrive in increasing order, the first
  // entries of reach: the s-th smallest divisor d of L gives its s-th
  // largest, m (1 excluded).
  const std::size_t rows = std::max<std::size_t>(k - 1, 1);
  reach.assign(rows * kept, 0);
  std::vector<std::uint8_t> seeded(kept, 0);
  weight.assign(kept, 0);
  std::size_t most_divisors = 1;
  for (std::size_t d = 1; d < kept; ++d) {
    std::int32_t w = 0;
    for (std::size_t m = 1, l = d; l < kept; ++m, l += d) {
      if (admitted[l] == 0) continue;
      w += mobius[m];
      if (m > 1 && seeded[l] < rows) reach[seeded[l]++ * kept + l] = static_cast<std::uint32_t>(m);
    }
    weight[d] = w;
    most_divisors = std::max<std::size_t>(most_divisors, divisor_count[d]);
  }

  pascal.assign((most_divisors + 1) * (k + 1), 0);
  for (std::size_t n = 0; n <= most_divisors; ++n) {
    pascal[n * (k + 1)] = 1;
    for (std::size_t j = 1; j <= std::min(n, k); ++j) {
      pascal[n * (k + 1) + j] = pascal[(n - 1) * (k + 1) + j - 1] + pascal[(n - 1) * (k + 1) + j];
    }
  }
  std::uint64_t total = 0;
  for (std::size_t d = 2; d < kept; ++d) {
    total += static_cast<std::uint64_t>(static_cast<std::int64_t>(weight[d])) *
             binomial(divisor_count[d] - 1u, k);
  }
  if (total != count) {
    return fail(cat("internal count mismatch in the streamed ", describe_space(space), ": ", total,
                    " against ", count));
  }

  // reach is then the greatest over the multiples: each l takes those of
  // its multiples l p by primes p, from the top down.
  std::vector<std::uint32_t> primes;
  for (std::size_t p = 2; p < kept; ++p) {
    if (least_prime[p] == p) primes.push_back(static_cast<std::uint32_t>(p));
  }
  for (std::size_t s = 1; s <= rows; ++s) {
    std::uint32_t* row = reach.data() + (s - 1) * kept;
    for (std::size_t l = kept - 1; l >= 1; --l) {
      for (const std::uint32_t p : primes) {
        if (l * p >= kept) break;
        row[l] = std::max(row[l], row[l * p]);
      }
    }
  }

  // The divisor table, for the values that divide an admitted one: each d
  // is appended to the lists of its multiples in increasing d.
  std::uint64_t entries = 0;
  for (std::size_t v = 1; v < kept; ++v) {
    if (reach[v] != 0) entries += divisor_count[v];
  }
  if (entries <= kDivisorTableLimit) {
    divisor_start.assign(kept + 1, 0);
    for (std::size_t v = 1; v < kept; ++v) {
      divisor_start[v + 1] = divisor_start[v] + (reach[v] != 0 ? divisor_count[v] : 0u);
    }
    divisor_pool.resize(entries);
    std::vector<std::uint32_t> filled(divisor_start.begin(), divisor_start.end() - 1);
    for (std::size_t d = 1; d < kept; ++d) {
      for (std::size_t m = d; m < kept; m += d) {
        if (reach[m] != 0) divisor_pool[filled[m]++] = static_cast<std::uint32_t>(d);
      }
    }
  }
  return {};
}

// The admissible next values of the prefix (lcm, last) with `remaining`
// elements to choose, in increasing order. A value v has lcm(l, v) = l q
// where q = v / gcd(l, v); writing g = gcd(l, v), every v is g q for exactly
// one divisor g of l and q coprime to l / g. So the values are generated per
// divisor g over q, without scanning all values up to the bound: l q must
// divide an admitted multiple, so q stops at the largest one divided by l,
// and g must exceed last / q_max to give a value above last. Each value is
// kept when the prefix it extends still has a completion.
void SpaceCursor::Tables::children(std::uint32_t lcm, std::uint32_t last, std::size_t remaining,
                                   std::vector<Child>& out,
                                   std::vector<std::uint32_t>& scratch) const {
  out.clear();
  const std::size_t rest = remaining - 1;
  const std::uint64_t l = lcm;
  const std::uint64_t q_max = reach_of(1, l) / l;
  // A child's completions lie among those of its parent's multiples.
  const std::uint64_t value_limit = rest == 0 ? UINT64_MAX : reach_of(rest, l);
  const auto divs = divisors(lcm, scratch);
  bool ordered = true;
  for (auto g_it = std::upper_bound(divs.begin(), divs.end(), last / q_max);
       g_it != divs.end() && *g_it < value_limit; ++g_it) {
    const std::uint64_t g = *g_it;
    const std::uint64_t cofactor = l / g;
    for (std::uint64_t q = last / g + 1; q <= q_max; ++q) {
      const std::uint64_t v = g * q;
      if (v >= value_limit) break;
      if (cofactor > 1 && std::gcd(q, cofactor) != 1) continue;
      const std::uint64_t next = l * q;
      if (rest == 0 ? admitted[next] == 0 : v >= reach_of(rest, next)) continue;
      ordered = ordered && (out.empty() || out.back().value < v);
      out.push_back({static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(next)});
    }
  }
  if (!ordered) {
    std::sort(out.begin(), out.end(),
              [](const Child& x, const Child& y) { return x.value < y.value; });
  }
}

// The completions of the prefix (lcm, last) with `remaining` elements to
// choose, by the formula above; c_a(d) is read off the sorted divisors of d.
std::uint64_t SpaceCursor::Tables::completions(std::uint32_t lcm, std::uint32_t last,
                                               std::size_t remaining,
                                               std::vector<std::uint32_t>& scratch) const {
  std::uint64_t total = 0;
  for (std::uint64_t d = lcm; d <= top; d += lcm) {
    const std::int32_t w = weight[static_cast<std::size_t>(d)];
    if (w == 0) continue;
    const auto divs = divisors(static_cast<std::uint32_t>(d), scratch);
    const auto above =
        static_cast<std::size_t>(divs.end() - std::upper_bound(divs.begin(), divs.end(), last));
    total += static_cast<std::uint64_t>(static_cast<std::int64_t>(w)) * binomial(above, remaining);
  }
  return total;
}

// The completions of the children of a prefix with multiple lcm, for the
// values first, first + 1, ..., one per entry of counts, all at once: for a
// multiple d of lcm, each divisor u of d from first on has C(divisors of d
// above u, remaining) terms with d. The entries of values that are not
// children add up to their number of completions, zero, and are not read.
// One pass over the multiples replaces a pass per child where the children
// lie dense (the first levels of a common-multiple space hold nearly every
// value).
void SpaceCursor::Tables::dense_completions(std::uint32_t lcm, std::uint32_t first,
                                            std::size_t remaining,
                                            std::vector<std::uint64_t>& counts,
                                            std::vector<std::uint32_t>& scratch) const {
  std::fill(counts.begin(), counts.end(), 0);
  for (std::uint64_t d = lcm; d <= top; d += lcm) {
    const std::int32_t w = weight[static_cast<std::size_t>(d)];
    if (w == 0) continue;
    const auto factor = static_cast<std::uint64_t>(static_cast<std::int64_t>(w));
    const auto divs = divisors(static_cast<std::uint32_t>(d), scratch);
    for (auto u = std::lower_bound(divs.begin(), divs.end(), first); u != divs.end(); ++u) {
      const std::size_t slot = *u - first;
      const auto above = static_cast<std::size_t>(divs.end() - u) - 1;
      if (slot >= counts.size() || above < remaining) break;
      counts[slot] += factor * binomial(above, remaining);
    }
  }
}

SpaceCursor::SpaceCursor(std::shared_ptr<const Tables> tables) : tables_(std::move(tables)) {}

Result<SpaceCursor> SpaceCursor::open(const CensusSpace& space) {
  auto count = count_space(space);
  if (!count) return std::move(count).take_error();
#if TILVANE_REDUCED
  if (space.kind == SpaceKind::Simpson) return fail("the simpson space is not in this build");
#endif
  auto tables = std::make_shared<Tables>();
  tables->space = space;
  tables->count = *count;
  if (*count > 0 && space.kind != SpaceKind::Subsets) {
    if (auto built = tables->build(); !built) return std::move(built).take_error();
  }
  SpaceCursor cursor(std::move(tables));
  cursor.current_.assign(space.k, 0);
  if (*count > 0) {
    if (space.kind == SpaceKind::Subsets) {
      std::iota(cursor.current_.begin(), cursor.current_.end(), std::uint64_t{2});
    } else {
      cursor.levels_.resize(space.k);
      cursor.descend_first(0);
    }
  }
  return cursor;
}

const CensusSpace& SpaceCursor::space() const { return tables_->space; }

std::uint64_t SpaceCursor::count() const { return tables_->count; }

void SpaceCursor::descend_first(std::size_t depth) {
  const Tables& t = *tables_;
  const std::size_t k = t.space.k;
  for (std::size_t j = depth; j < k; ++j) {
    const std::uint32_t lcm = j == 0 ? 1 : levels_[j - 1].children[levels_[j - 1].chosen].lcm;
    const auto last = static_cast<std::uint32_t>(j == 0 ? 1 : current_[j - 1]);
    Level& level = levels_[j];
    t.children(lcm, last, k - j, level.children, divisors_);
    level.chosen = 0;
    current_[j] = level.children.front().value;
  }
}

// Subsets count up like an odometer whose digit i runs to bound - (k - 1 -
// i); the walk over common multiples moves to the next child at the deepest
// level that has one and takes first children below it.
void SpaceCursor::advance() {
  const Tables& t = *tables_;
  const std::size_t k = t.space.k;
  if (t.space.kind == SpaceKind::Subsets) {
    std::size_t p = k;
    while (p > 0 && current_[p - 1] == t.space.bound - (k - p)) --p;
    if (p == 0) return;
    ++current_[p - 1];
    for (std::size_t i = p; i < k; ++i) current_[i] = current_[i - 1] + 1;
    return;
  }
  for (std::size_t depth = k; depth > 0; --depth) {
    Level& level = levels_[depth - 1];
    if (++level.chosen < level.children.size()) {
      current_[depth - 1] = level.children[level.chosen].value;
      descend_first(depth);
      return;
    }
  }
}

bool SpaceCursor::next(ModuliSet& out) {
  if (index_ >= count()) return false;
  out = current_;
  ++index_;
  if (index_ < count()) advance();
  return true;
}

// Walks down from the empty prefix: at each level the children's completions
// are subtracted in order until the index falls inside one of them, so a
// seek costs the counts of the children passed on the way, never a walk
// over the candidates. Subsets find each element by bisection: of the
// completions of a prefix with last element a and r elements to choose,
// C(bound - a, r) - C(bound - v + 1, r) continue with a value below v.
Status SpaceCursor::seek(std::uint64_t index) {
  const Tables& t = *tables_;
  if (index > t.count) {
    return fail(cat("index ", index, " is beyond the ", t.count, " candidates of the ",
                    describe_space(t.space)));
  }
  index_ = index;
  if (index == t.count) return {};
  const std::size_t k = t.space.k;
  std::uint64_t rank = index;
  if (t.space.kind == SpaceKind::Subsets) {
    const std::uint64_t bound = t.space.bound;
    std::uint64_t last = 1;
    for (std::size_t j = 0; j < k; ++j) {
      const std::uint64_t r = k - j;
      // Each binomial counts part of the space, whose size fits in 64 bits.
      const std::uint64_t all = *checked_binomial(bound - last, r);
      const auto skipped = [&](std::uint64_t v) {
        return all - *checked_binomial(bound - v + 1, r);
      };
      std::uint64_t low = last + 1;
      std::uint64_t high = bound - r + 1;
      while (low < high) {
        const std::uint64_t middle = low + (high - low + 1) / 2;
        if (skipped(middle) <= rank) {
          low = middle;
        } else {
          high = middle - 1;
        }
      }
      rank -= skipped(low);
      current_[j] = low;
      last = low;
    }
    return {};
  }
  // At least this many children, filling at least a quarter of the values
  // they span, are counted in one pass.
  constexpr std::size_t kDenseChildren = 64;
  std::vector<std::uint64_t> counts;
  for (std::size_t j = 0; j < k; ++j) {
    const std::uint32_t lcm = j == 0 ? 1 : levels_[j - 1].children[levels_[j - 1].chosen].lcm;
    const auto last = static_cast<std::uint32_t>(j == 0 ? 1 : current_[j - 1]);
    Level& level = levels_[j];
    t.children(lcm, last, k - j, level.children, divisors_);
    const std::size_t rest = k - j - 1;
    std::size_t chosen = 0;
    const std::size_t n = level.children.size();
    if (rest == 0) {
      // Every child of a last level completes the prefix exactly once.
      chosen = static_cast<std::size_t>(std::min<std::uint64_t>(rank, n));
    } else if (n >= kDenseChildren &&
               level.children.back().value - level.children.front().value < 4 * n) {
      const std::uint32_t first = level.children.front().value;
      counts.resize(level.children.back().value - first + 1);
      t.dense_completions(lcm, first, rest, counts, divisors_);
      for (; chosen < n; ++chosen) {
        const std::uint64_t below = counts[level.children[chosen].value - first];
        if (rank < below) break;
        rank -= below;
      }
    } else {
      for (; chosen < n; ++chosen) {
        const Child& child = level.children[chosen];
        const std::uint64_t below = t.completions(child.lcm, child.value, rest, divisors_);
        if (rank < below) break;
        rank -= below;
      }
    }
    if (chosen == n) {
      index_ = t.count;
      return fail(cat("internal count mismatch while seeking index ", index, " in the ",
                      describe_space(t.space)));
    }
    level.chosen = chosen;
    current_[j] = level.children[chosen].value;
  }
  return {};
}

}  // namespace tilvane
