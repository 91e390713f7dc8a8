// The moduli-set actions of tilvane-census: deciding one moduli set
// (--moduli, --moduli-file, --divisors-of) and the least-LCM scan
// (--least-lcm). A covering goes to standard output as a candidate file
// (size, then one "modulus residue" line per modulus, by modulus), after the
// cover check has confirmed it; a refutation as the line "no covering",
// with its trace in the --proof file. Their exit statuses follow the SAT
// solvers': 10 for a covering, 20 for none.
#pragma once

#include <ostream>

#include "base/result.h"
#include "census_tool/cluster_role.h"
#include "census_tool/options.h"

namespace tilvane {

inline constexpr int kExitCovering = 10;
inline constexpr int kExitNoCovering = 20;

// Runs the action; the summary (nodes, CPU time, techniques) goes to log,
// progress lines to log every --progress-interval seconds when progress is
// true. Returns 10, 20, 2 (undecided within --max-nodes) or 75 (stopped by
// SIGINT or SIGTERM), or the text of a failure. In a cluster run every rank
// decides a share of one moduli set's subproblems and rank 0 alone writes;
// the least-LCM scan runs on rank 0 alone.
Result<int> run_moduli_action(const CensusOptions& options, std::ostream& out, std::ostream& log,
                              bool progress, ClusterRole* cluster = nullptr);

}  // namespace tilvane
