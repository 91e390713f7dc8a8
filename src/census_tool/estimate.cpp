#include "census_tool/estimate.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "base/checked_math.h"
#include "base/text_format.h"
#include "engine/decision_memo.h"
#include "engine/dominance_store.h"

namespace tilvane {
namespace {

constexpr std::size_t kReplicates = 2000;

double quantile(std::span<const double> sorted, double q) {
  if (sorted.empty()) return 0;
  const auto index = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

std::string ms(double seconds) { return decimal_places(seconds * 1000, 3); }
std::string hours(double seconds) { return significant_digits(seconds / 3600, 3); }

std::string duration_text(double seconds) {
  if (seconds < 120) return cat(decimal_places(seconds, 1), " s");
  if (seconds < 7200) return cat(decimal_places(seconds / 60, 1), " min");
  if (seconds < 172800) return cat(decimal_places(seconds / 3600, 1), " h");
  return cat(decimal_places(seconds / 86400, 1), " days");
}

}  // namespace

double whole_run_factor(double sampled_share) {
  constexpr double kExponent = 0.165;
  if (sampled_share <= 0 || sampled_share >= 1) return 1;
  return std::pow(sampled_share, kExponent);
}

std::vector<std::size_t> dearest_positions(std::span<const double> seconds, std::size_t count) {
  std::vector<std::size_t> order(seconds.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  const std::size_t shown = std::min(count, order.size());
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(shown), order.end(),
                    [&](std::size_t a, std::size_t b) { return seconds[a] > seconds[b]; });
  order.resize(shown);
  return order;
}

std::pair<double, double> bootstrap_mean_interval(std::span<const double> seconds,
                                                  std::uint64_t block) {
  if (seconds.empty()) return {0, 0};
  block = std::max<std::uint64_t>(block, 1);
  std::vector<double> sums;
  std::vector<double> sizes;
  for (std::size_t at = 0; at < seconds.size(); at += static_cast<std::size_t>(block)) {
    const std::size_t end = std::min(seconds.size(), at + static_cast<std::size_t>(block));
    double sum = 0;
    for (std::size_t i = at; i < end; ++i) sum += seconds[i];
    sums.push_back(sum);
    sizes.push_back(static_cast<double>(end - at));
  }
  std::mt19937_64 random(20261209);
  std::uniform_int_distribution<std::size_t> pick(0, sums.size() - 1);
  std::vector<double> means(kReplicates);
  for (double& mean : means) {
    double sum = 0;
    double size = 0;
    for (std::size_t i = 0; i < sums.size(); ++i) {
      const std::size_t b = pick(random);
      sum += sums[b];
      size += sizes[b];
    }
    mean = sum / size;
  }
  std::sort(means.begin(), means.end());
  return {quantile(means, 0.05), quantile(means, 0.95)};
}

// Each sampled candidate's CPU time is what one core spends on it, whatever
// else the machine runs, so the mean over the sample, times the size of the
// space, is the core time of the whole space; the sample is spread evenly
// over the candidate order, which keeps it fair to the cheap and the dear
// parts of the space alike.
std::string render_estimate(const ExplorationPlan& plan, const EstimateSample& sample,
                            std::uint64_t space_candidates, std::size_t workers,
                            std::string_view simd_level, bool json) {
  std::vector<double> sorted(sample.seconds.begin(), sample.seconds.end());
  std::sort(sorted.begin(), sorted.end());
  double total = 0;
  for (double s : sorted) total += s;
  const double n = static_cast<double>(sorted.size());
  const double mean = sorted.empty() ? 0 : total / n;
  const auto [low, high] = bootstrap_mean_interval(sample.seconds, sample.block);
  const double space = static_cast<double>(space_candidates);
  const double factor = sample.whole_run_factor;
  const double sample_seconds = mean * space;
  const double core_seconds = sample_seconds * factor;
  const double wall = core_seconds / static_cast<double>(std::max<std::size_t>(workers, 1));
  const double decided = sample.decided != 0 ? static_cast<double>(sample.decided) : n;
  const double share = decided == 0 ? 0 : static_cast<double>(sample.found) / decided;
  const auto expected_found = static_cast<std::uint64_t>(share * space + 0.5);
  const std::uint64_t peak_mb = estimated_peak_bytes(plan, expected_found) >> 20;
  const double max = sorted.empty() ? 0 : sorted.back();
  std::string dearest;
  for (const auto& [took, set] : sample.dearest) {
    const auto lcm = checked_lcm_of(set);
    dearest += json
                   ? cat(dearest.empty() ? "" : ",", "{\"ms\":", ms(took),
                         ",\"lcm\":", lcm.value_or(0), ",\"moduli\":[")
                   : cat("  ", ms(took), " ms: ", render_set(set), ", LCM ", lcm.value_or(0), "\n");
    if (json) {
      for (std::size_t i = 0; i < set.size(); ++i) dearest += cat(i == 0 ? "" : ",", set[i]);
      dearest += "]}";
    }
  }
  if (json) {
    return cat("{\"space\":\"", space_kind_name(plan.space.kind), "\",\"size\":", plan.space.k,
               ",\"max_lcm\":", plan.space.bound, ",\"search\":\"", search_kind_name(plan.search),
               "\",\"space_candidates\":", space_candidates,
               ",\"sampled\":", static_cast<std::uint64_t>(decided), ",\"timed\":", sorted.size(),
               ",\"sample\":", plan.sample, ",\"run_length\":", sample.block,
               ",\"median_ms\":", ms(quantile(sorted, 0.5)),
               ",\"p90_ms\":", ms(quantile(sorted, 0.9)),
               ",\"p99_ms\":", ms(quantile(sorted, 0.99)), ",\"max_ms\":", ms(max),
               ",\"mean_ms\":", ms(mean), ",\"core_hours\":", hours(core_seconds),
               ",\"core_hours_low\":", hours(low * space * factor),
               ",\"core_hours_high\":", hours(high * space * factor),
               ",\"sample_core_hours\":", hours(sample_seconds),
               ",\"whole_run_factor\":", decimal_places(factor, 3), ",\"found\":", expected_found,
               ",\"peak_mb\":", peak_mb, ",\"wall_seconds\":", decimal_places(wall, 1),
               ",\"workers\":", workers, ",\"simd_level\":\"", simd_level, "\",\"dearest\":[",
               dearest, "]}\n");
  }
  return cat("space: ", describe_space(plan.space), ", ", search_kind_name(plan.search),
             " search\n", "sampled: ", static_cast<std::uint64_t>(decided), " of ",
             space_candidates, " candidates (", sample.how, ")\n",
             "CPU time per candidate: median ", ms(quantile(sorted, 0.5)), " ms, p90 ",
             ms(quantile(sorted, 0.9)), " ms, p99 ", ms(quantile(sorted, 0.99)), " ms, max ",
             ms(max), " ms, mean ", ms(mean), " ms\n", "whole space: ", hours(core_seconds),
             " core-hours (90% interval ", hours(low * space * factor), " to ",
             hours(high * space * factor), "); ", duration_text(wall), " on this machine's ",
             workers, workers == 1 ? " worker" : " workers", " (SIMD level ", simd_level, ")\n",
             factor == 1 ? std::string()
                         : cat("(the sampled runs cost ", hours(sample_seconds),
                               " core-hours; a whole run costs ", decimal_places(factor, 2),
                               " of that, its stores holding every set decided before a "
                               "candidate)\n"),
             "irreducible covering sets: about ", expected_found, "; peak memory: about ", peak_mb,
             " MB\n", dearest.empty() ? "" : "dearest sampled candidates:\n", dearest);
}

std::uint64_t estimated_peak_bytes(const ExplorationPlan& plan, std::uint64_t found) {
  // A found set: its record, and its moduli and residues on the heap.
  const std::uint64_t per_found = sizeof(FoundSet) + 2 * (8 * plan.space.k + 16);
  const std::uint64_t tables = plan.search == SearchKind::Decide
                                   ? DecisionMemo::kDefaultBytes + DominanceStore::kDefaultBytes
                                   : 0;
  constexpr std::uint64_t kRest = std::uint64_t{40} << 20;  // program, pools, space tables
  return tables + found * per_found + kRest;
}

}  // namespace tilvane
