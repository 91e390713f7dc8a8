#include "engine/candidate_check.h"

#include <vector>

#include "engine/cover_check.h"
#include "engine/irreducibility.h"
#include "engine/period.h"

namespace tilvane {

Result<CandidateFigures> check_congruences(std::span<const Congruence> congruences,
                                           std::uint64_t max_nodes) {
  std::vector<std::uint64_t> moduli;
  moduli.reserve(congruences.size());
  for (const Congruence& c : congruences) moduli.push_back(c.modulus);
  const auto period = common_period(moduli);
  if (!period) return fail(period.error());

  if (Status cover = verify_displayed_cover(congruences, *period); !cover) {
    return std::move(cover).take_error();
  }
  const auto nodes = verify_irreducible(congruences, max_nodes);
  if (!nodes) return fail(nodes.error());
  return CandidateFigures{congruences.size(), *period, *nodes};
}

}  // namespace tilvane
