#include "census_tool/least_lcm.h"

#include <ctime>

#include "census_tool/moduli_options.h"
#include "engine/period.h"
#include "engine/residue_search.h"

namespace tilvane {
namespace {

// The moduli search on this thread, its trace kept until it is known to
// be a refutation.
Result<ModuliDecision> decide_here(std::uint64_t l, std::span<const std::uint64_t> moduli,
                                   std::uint64_t max_nodes, const ModuliOptions& options,
                                   TraceSink* trace, const LeastLcmProgress& progress) {
  TraceText lines;
  const ModuliProgress each = [&](std::uint64_t nodes) { return !progress || progress(l, nodes); };
  auto decision =
      decide_moduli(moduli, max_nodes, options, trace != nullptr ? &lines : nullptr, each);
  if (decision && decision->outcome == ModuliOutcome::NoCovering && trace != nullptr) {
    const std::string& text = lines.text();
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t end = text.find('\n', at);
      trace->line(std::string_view(text).substr(at, end - at));
      at = end + 1;
    }
  }
  return decision;
}

}  // namespace

Result<LeastLcmScan> scan_least_lcm(std::uint64_t m, std::uint64_t max_lcm, std::uint64_t max_nodes,
                                    const ModuliOptions& options, TraceSink* trace,
                                    const LeastLcmProgress& progress, const LeastLcmReport& report,
                                    const LeastLcmDecider& decide) {
  LeastLcmScan scan;
  if (max_lcm > kPeriodLimit) max_lcm = kPeriodLimit;
  for (std::uint64_t l = m; l <= max_lcm; ++l) {
    scan.reached = l;
    const std::vector<std::uint64_t> moduli = divisors_at_least(l, m);
    if (reciprocal_sum_below_one(moduli)) {
      ++scan.density_settled;
      if (trace != nullptr) trace->line(trace_numbers("density", moduli));
      continue;
    }
    LeastLcmStep step;
    step.l = l;
    step.moduli = moduli.size();
    const std::clock_t start = std::clock();
    auto decision = decide ? decide(l, moduli, trace)
                           : decide_here(l, moduli, max_nodes, options, trace, progress);
    if (!decision) return std::move(decision).take_error();
    step.cpu_seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    step.decision = std::move(*decision);
    const ModuliOutcome outcome = step.decision.outcome;
    if (report) report(step);
    scan.searched.push_back(std::move(step));
    if (outcome == ModuliOutcome::Covering) {
      scan.least = l;
      break;
    }
    if (outcome == ModuliOutcome::Stopped) {
      scan.stopped = true;
      break;
    }
  }
  return scan;
}

}  // namespace tilvane
