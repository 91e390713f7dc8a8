// The census modes for k = 9, 10 and 11, which decide their candidates on the
// process-wide worker pool. Only the full program has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <span>
#include <string_view>
#include <vector>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/census_progress.h"
#include "census/worker_pool.h"
#include "engine/irreducibility.h"

namespace tilvane {

// One slot per candidate, in candidate order: the decision for that
// candidate, or its error text.
using DecisionSlots = std::vector<Result<IrreducibleDecision>>;

// Decides every candidate with decide_irreducible_moduli and the same
// max_nodes, on the workers of pool, and returns when all are decided. A
// failing candidate stops nothing; its error text stays in its slot. While
// the workers run, the calling thread tells progress a few times a second how
// many candidates are decided.
DecisionSlots decide_all_parallel(WorkerPool& pool, std::span<const ModuliSet> candidates,
                                  std::uint64_t max_nodes,
                                  CensusProgress& progress = no_progress());

// The same on the process-wide pool; fails only when its threads cannot be
// started.
Result<DecisionSlots> decide_all_parallel(std::span<const ModuliSet> candidates,
                                          std::uint64_t max_nodes,
                                          CensusProgress& progress = no_progress());

// The candidate list of the fixture census for k = 8 to 11, from its space in
// the census table. Fails for any other k.
Result<ModuliSetList> fixture_census_candidates(std::size_t k);

// What a parallel census runs on: its size, the fixture text it checks
// against, where its candidates come from, and the pool (the process-wide
// one when null). The census modes use standard_parallel_census; tests swap
// single parts.
struct ParallelCensus {
  std::size_t k = 0;
  std::string_view fixture_text;
  std::function<Result<ModuliSetList>()> generate_candidates;
  WorkerPool* pool = nullptr;
};

// The census for k = 9, 10 or 11 as the program runs it: the embedded fixture,
// fixture_census_candidates(k) and the process-wide pool.
ParallelCensus standard_parallel_census(std::size_t k);

// Loads and counts the expected sets, generates the candidates, decides them
// all in parallel, scans the slots in candidate order (the earliest failing
// candidate's text wins), then compares the found sets and the aggregate with
// the figures for census.k. Prints the three report lines only when every
// check has passed; otherwise returns the first error text having printed
// nothing. Progress is told, on the calling thread, how many candidates are
// decided while the workers run, and the stage is finished before anything
// is written or returned.
Status run_parallel_census(const ParallelCensus& census, std::uint64_t max_nodes, std::ostream& out,
                           CensusProgress& progress = no_progress());

}  // namespace tilvane
