#include "census/census_scan.h"

#include "engine/search_cache.h"

namespace tilvane {

Status CensusScan::take(const Result<IrreducibleDecision>& decision, ModuliSet& candidate) {
  if (!decision) return fail(decision.error());
  if (__builtin_add_overflow(tally_.nodes, decision->nodes, &tally_.nodes)) {
    return fail(node_overflow_message_);
  }
  if (decision->irreducible) tally_.found.push_back(std::move(candidate));
  return {};
}

Status decide_all_sequential(ModuliSetList& candidates, std::uint64_t max_nodes, CensusScan& scan,
                             std::string_view stage_label, CensusProgress& progress) {
  ProgressStage stage(progress, stage_label, candidates.size());
  // Small censuses repeat many deletion searches too; a modest table keeps
  // their results.
  SearchCache cache(max_nodes, std::size_t{1} << 16);
  // Every few dozen candidates is often enough for a line drawn a few times
  // a second, and keeps even a clock reading away from the cheapest
  // candidates, which take microseconds.
  constexpr std::uint64_t progress_stride = 64;
  std::uint64_t decided = 0;
  for (ModuliSet& candidate : candidates) {
    if (auto taken = scan.take(decide_irreducible_moduli(candidate, max_nodes, cache), candidate);
        !taken) {
      return taken;
    }
    if (++decided % progress_stride == 0) stage.advanced(decided);
  }
  return {};
}

}  // namespace tilvane
