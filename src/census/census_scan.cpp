#include "census/census_scan.h"

namespace tilvane {

Status CensusScan::take(const Result<IrreducibleDecision>& decision, ModuliSet& candidate) {
  if (!decision) return fail(decision.error());
  if (__builtin_add_overflow(tally_.nodes, decision->nodes, &tally_.nodes)) {
    return fail(node_overflow_message_);
  }
  if (decision->irreducible) tally_.found.push_back(std::move(candidate));
  return {};
}

Status decide_all_sequential(ModuliSetList& candidates, std::uint64_t max_nodes, CensusScan& scan) {
  for (ModuliSet& candidate : candidates) {
    if (auto taken = scan.take(decide_irreducible_moduli(candidate, max_nodes), candidate);
        !taken) {
      return taken;
    }
  }
  return {};
}

}  // namespace tilvane
