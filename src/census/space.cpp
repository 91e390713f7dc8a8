#include "census/space.h"

#include <algorithm>
#include <vector>

#include "base/checked_math.h"
#include "base/text_format.h"
#include "base/uint128.h"
#include "census/combinations.h"
#include "census/common_multiples.h"
#include "census/value_sieve.h"
#include "engine/period.h"
#if !TILVANE_REDUCED
#include "census/simpson.h"
#endif

namespace tilvane {
namespace {

Status check_bounds(const CensusSpace& space) {
  if (space.k == 0) return fail("size must be at least 1");
  if (space.k > kSpaceSizeLimit) {
    return fail(
        cat("size ", space.k, " exceeds the searches' limit of ", kSpaceSizeLimit, " moduli"));
  }
  if (space.bound < 2) return fail("LCM bound must be at least 2");
  if (space.bound > space_lcm_limit()) {
    return fail(
        cat("LCM bound ", space.bound, " exceeds the searches' period limit ", space_lcm_limit()));
  }
  return {};
}

}  // namespace

// The k-sets with multiple exactly L are sum over d | L of mu(L/d) C(t(d) - 1, k),
// t(d) - 1 being the divisors of d from 2 on: the k-sets of those divisors
// are the k-sets whose multiple divides d. Summed over the admitted L as
// sum over d of C(t(d) - 1, k) times sum over m of mu(m) for the admitted
// L = d m, in positive and negative parts so nothing wraps.
Result<std::uint64_t> count_space(const CensusSpace& space) {
  if (auto bounds = check_bounds(space); !bounds) return std::move(bounds).take_error();
  if (space.kind == SpaceKind::Subsets) {
    const auto subsets = checked_binomial(space.bound - 1, space.k);
    if (!subsets) return fail(cat("the space ", describe_space(space), " is too large to count"));
    return *subsets;
  }
  const ValueSieve sieve(space.bound);
  const std::uint64_t bound = space.bound;
  const auto admitted = [&](std::uint64_t l) {
    return space.kind == SpaceKind::CommonMultiples || sieve.simpson[l] < space.k;
  };
  u128 positive = 0;
  u128 negative = 0;
  const Error overflow = fail(cat("the space ", describe_space(space), " is too large to count"));
  for (std::uint64_t d = 2; d <= bound; ++d) {
    const auto selections = checked_binomial(sieve.divisors[d] - 1, space.k);
    if (!selections) return overflow;
    if (*selections == 0) continue;
    std::int64_t weight = 0;
    for (std::uint64_t m = 1; m <= bound / d; ++m) {
      if (admitted(d * m)) weight += sieve.mobius[m];
    }
    const u128 term =
        static_cast<u128>(*selections) * static_cast<std::uint64_t>(weight < 0 ? -weight : weight);
    (weight < 0 ? negative : positive) += term;
  }
  if (positive < negative || positive - negative > UINT64_MAX) return overflow;
  return static_cast<std::uint64_t>(positive - negative);
}

std::uint64_t space_lcm_limit() { return kPeriodLimit; }

std::string_view space_kind_name(SpaceKind kind) {
  switch (kind) {
    case SpaceKind::Subsets:
      return "subsets";
    case SpaceKind::CommonMultiples:
      return "common-multiples";
    case SpaceKind::Simpson:
      break;
  }
  return "simpson";
}

std::optional<SpaceKind> parse_space_kind(std::string_view name) {
  if (name == "simpson") return SpaceKind::Simpson;
  if (name == "common-multiples") return SpaceKind::CommonMultiples;
  return std::nullopt;
}

std::string describe_space(const CensusSpace& space) {
  return cat(space_kind_name(space.kind), " space, size ", space.k,
             space.kind == SpaceKind::Subsets ? ", largest modulus <= " : ", LCM <= ", space.bound);
}

Result<ModuliSetList> space_candidates(const CensusSpace& space) {
  switch (space.kind) {
    case SpaceKind::Subsets:
      return combinations(space.k, space.bound);
    case SpaceKind::CommonMultiples:
      return candidates_via_common_multiples(space.k, space.bound);
    case SpaceKind::Simpson:
      break;
  }
#if TILVANE_REDUCED
  return fail("the simpson space is not in this build");
#else
  return candidates_via_simpson(space.k, space.bound);
#endif
}

}  // namespace tilvane
