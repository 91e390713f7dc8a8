// The least LCM of a distinct covering whose moduli are all at least m. Let
// D(L, m) be the divisors of L that are at least m: a distinct covering with
// least modulus >= m and LCM dividing L exists exactly when D(L, m) admits a
// covering, so the least such LCM is the least L for which D(L, m) covers.
// L is scanned upward from m; an L whose D(L, m) has reciprocal sum below 1
// cannot cover (the classes hold too few residues), and every other L is
// decided by the moduli search. In an upward scan no L is settled by an
// earlier refutation: L itself lies in D(L, m) and in no D(L', m) with
// L' < L, so a refutation of L' settles only divisors of L', all already
// scanned.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "engine/moduli_decision.h"
#include "engine/refutation_trace.h"

namespace tilvane {

// One L that needed a search.
struct LeastLcmStep {
  std::uint64_t l = 0;
  std::size_t moduli = 0;  // |D(L, m)|
  ModuliDecision decision;
  double cpu_seconds = 0;
};

struct LeastLcmScan {
  std::uint64_t reached = 0;          // the last L looked at
  std::uint64_t density_settled = 0;  // L with reciprocal sum below 1
  std::vector<LeastLcmStep> searched;
  std::optional<std::uint64_t> least;  // the first L whose D(L, m) covers
  bool stopped = false;
};

// Called with the L being searched and its nodes so far; false stops.
using LeastLcmProgress = std::function<bool(std::uint64_t l, std::uint64_t nodes)>;

// Told of each L as soon as its search ends.
using LeastLcmReport = std::function<void(const LeastLcmStep& step)>;

// Decides the set of one L; the trace sink, when given, receives its
// refutation trace when it has no covering, and nothing otherwise.
using LeastLcmDecider = std::function<Result<ModuliDecision>(
    std::uint64_t l, std::span<const std::uint64_t> moduli, TraceSink* trace)>;

// Scans L = m, m + 1, ..., max_lcm and stops at the first covering. Each
// search gets max_nodes. A trace, when given, receives a refutation trace
// for every L refuted by search and a density line for every L settled by
// density, so that a checker confirms every L below the answer. Each L is
// decided by decide, or without it by the moduli search on this thread
// (with max_nodes, options and progress).
Result<LeastLcmScan> scan_least_lcm(std::uint64_t m, std::uint64_t max_lcm, std::uint64_t max_nodes,
                                    const ModuliOptions& options, TraceSink* trace,
                                    const LeastLcmProgress& progress = {},
                                    const LeastLcmReport& report = {},
                                    const LeastLcmDecider& decide = {});

}  // namespace tilvane
