// What --estimate tells of a whole space from a sample of it: the CPU time
// of each sampled candidate, its spread, the cost of the whole space with a
// 90% interval, the wall time on this machine, the sets to expect and the
// peak memory of the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/moduli_set_list.h"
#include "census/exploration.h"

namespace tilvane {

struct EstimateSample {
  // The CPU seconds of each sampled candidate, in work-list order.
  std::span<const double> seconds;
  // The candidates decided (more than the timed ones when each run began
  // with candidates decided only to fill the stores) and the irreducible
  // covering sets among them.
  std::uint64_t decided = 0;
  std::uint64_t found = 0;
  // Candidates per block of the sample: the runs of consecutive candidates
  // it was drawn in (1: scattered candidates).
  std::uint64_t block = 1;
  // How the sample was drawn, in words ("32 runs of 512 consecutive
  // candidates, spread evenly").
  std::string how;
  // The dearest candidates of the sample with their CPU seconds, dearest
  // first: where the time of the whole space goes.
  std::vector<std::pair<double, ModuliSet>> dearest;
  // What a whole run costs per candidate against the sample (1: the same);
  // see whole_run_factor.
  double whole_run_factor = 1;
};

// A whole run of the decision search costs less per candidate than runs
// sampled from it: its stores hold the sets decided anywhere before a
// candidate, a sample's only those of the sample, and a candidate's
// dominators lie all over the space. Measured on the Simpson spaces that
// have been run whole, the saving follows the share of the space sampled:
// a whole run costs share^0.165 of the sample's mean (k = 12, 19% sampled:
// 0.77; k = 13, 0.86% sampled: 0.44, against 0.76 and 0.46 from the rule).
double whole_run_factor(double sampled_share);

// The 5% and 95% quantiles of the sample mean, by bootstrap over its blocks:
// blocks are drawn with replacement (a fixed seed, so the figures repeat),
// which keeps the dependence between the neighbours of a run, whose costs
// rise and fall together.
std::pair<double, double> bootstrap_mean_interval(std::span<const double> seconds,
                                                  std::uint64_t block);

// The positions in the sample of its `count` dearest candidates (fewer when
// the sample is smaller), dearest first.
std::vector<std::size_t> dearest_positions(std::span<const double> seconds, std::size_t count);

// The estimate as text, or as one JSON object; each ends in a line feed.
std::string render_estimate(const ExplorationPlan& plan, const EstimateSample& sample,
                            std::uint64_t space_candidates, std::size_t workers,
                            std::string_view simd_level, bool json);

// The peak memory, in bytes, of a run of the whole space by one process
// that finds about `found` sets: the decision search's memo and dominance
// store at their budgets, the found sets and a fixed allowance for the rest.
std::uint64_t estimated_peak_bytes(const ExplorationPlan& plan, std::uint64_t found);

}  // namespace tilvane
