#include "census/parallel_census.h"

#include <atomic>
#include <chrono>
#include <utility>

#include "base/text_format.h"
#include "census/census_scan.h"
#include "census/census_table.h"
#include "census/embedded_fixtures.h"
#include "census/fixture_census.h"
#include "census/fixtures.h"
#include "engine/search_cache.h"

namespace tilvane {
namespace {

// How often the waiting thread passes the count of decided candidates on.
constexpr std::chrono::milliseconds progress_interval{100};

}  // namespace

// Every slot starts as an error text, so a slot the pool failed to fill could
// never pass as a decision. Each task writes only the slot of its own index
// and reads the shared candidate list and budget, so the work needs no lock;
// the pool's own hand-over makes the slots visible once it returns. The
// workers share one table of deletion-search results: a stored result is the
// one the search would return, so sharing changes speed, never a slot.
// Progress is one shared counter that each task bumps once it has filled its
// slot; it orders nothing, so a relaxed increment serves, and only the
// waiting thread reads it and talks to progress.
DecisionSlots decide_all_parallel(WorkerPool& pool, std::span<const ModuliSet> candidates,
                                  std::uint64_t max_nodes, CensusProgress& progress) {
  DecisionSlots slots(candidates.size(),
                      Result<IrreducibleDecision>(fail("census candidate left undecided")));
  SearchCache cache(max_nodes);
  std::atomic<std::uint64_t> decided{0};
  pool.for_each_index(
      candidates.size(),
      [&](std::size_t i) {
        slots[i] = decide_irreducible_moduli(candidates[i], max_nodes, cache);
        decided.fetch_add(1, std::memory_order_relaxed);
      },
      progress_interval, [&] { progress.advanced(decided.load(std::memory_order_relaxed)); });
  return slots;
}

Result<DecisionSlots> decide_all_parallel(std::span<const ModuliSet> candidates,
                                          std::uint64_t max_nodes, CensusProgress& progress) {
  auto pool = shared_worker_pool();
  if (!pool) return std::move(pool).take_error();
  return decide_all_parallel(**pool, candidates, max_nodes, progress);
}

Result<ModuliSetList> fixture_census_candidates(std::size_t k) {
  const CensusSize* census = census_of_size(k);
  if (census == nullptr || census->fixture_file.empty()) {
    return fail(cat("no census candidates for k=", k));
  }
  return space_candidates(census->space);
}

ParallelCensus standard_parallel_census(std::size_t k) {
  ParallelCensus census;
  census.k = k;
  census.fixture_text = embedded_fixture_text(k);
  census.generate_candidates = [k] { return fixture_census_candidates(k); };
  return census;
}

Status run_parallel_census(const ParallelCensus& census, std::uint64_t max_nodes, std::ostream& out,
                           CensusProgress& progress) {
  const CensusSize* figures = census_of_size(census.k);
  if (figures == nullptr || figures->fixture_file.empty()) {
    return fail(cat("no parallel census for k=", census.k));
  }

  auto expected = load_expected_sets(census.fixture_text, *figures);
  if (!expected) return std::move(expected).take_error();

  auto candidates = census.generate_candidates();
  if (!candidates) return std::move(candidates).take_error();
  const std::size_t candidate_count = candidates->size();

  WorkerPool* pool = census.pool;
  if (pool == nullptr) {
    auto shared = shared_worker_pool();
    if (!shared) return std::move(shared).take_error();
    pool = *shared;
  }
  ProgressStage stage(progress, cat("k=", census.k), candidate_count);
  const DecisionSlots slots = decide_all_parallel(*pool, *candidates, max_nodes, progress);
  stage.finish();

  CensusScan scan(census_node_overflow_message(census.k));
  for (std::size_t i = 0; i < candidate_count; ++i) {
    Status taken = scan.take(slots[i], (*candidates)[i]);
    if (!taken) return taken;
  }
  const CensusTally& tally = scan.tally();

  auto report =
      fixture_census_report(*figures, tally.found, *expected, candidate_count, tally.nodes);
  if (!report) return std::move(report).take_error();
  out << *report;
  return {};
}

}  // namespace tilvane
