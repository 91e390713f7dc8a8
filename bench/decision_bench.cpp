// Speed of the decision search against the node-exact census decision, on
// one thread: every k = 10 Simpson-filtered candidate and every 200th k = 11
// one, each decided by decide_irreducible_fast (with one memo per space) and
// by decide_irreducible_moduli; the irreducible counts must agree. Then what
// each technique adds, switched on one after another on the k = 11 sample.
// A Google Benchmark of decide_cover per candidate comes first.
//
//   decision_bench                 everything (a few minutes, most of it the
//                                  node-exact search)
//   decision_bench --no-exact      the decision search only
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/moduli_set_list.h"
#include "census/simpson.h"
#include "engine/decision_memo.h"
#include "engine/decision_search.h"
#include "engine/irreducibility.h"
#include "engine/simd_level.h"

namespace tilvane {
namespace {

constexpr std::uint64_t kNoBudget = UINT64_MAX;

ModuliSetList every_nth(const ModuliSetList& sets, std::size_t step) {
  ModuliSetList out;
  for (std::size_t i = 0; i < sets.size(); i += step) out.push_back(sets[i]);
  return out;
}

struct Run {
  double seconds = 0;
  std::size_t irreducible = 0;
  std::uint64_t nodes = 0;
};

template <class F>
double timed(F&& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Run run_fast(const ModuliSetList& sets, const DecisionOptions& options, bool memo_on) {
  Run run;
  DecisionMemo memo;
  run.seconds = timed([&] {
    for (const ModuliSet& set : sets) {
      auto v = decide_irreducible_fast(set, kNoBudget, memo_on ? &memo : nullptr,
                                       detected_simd_level(), options);
      if (!v) std::fprintf(stderr, "%s\n", v.error().c_str());
      run.irreducible += v && v->verdict == Verdict::Irreducible ? 1 : 0;
      run.nodes += v ? v->nodes : 0;
    }
  });
  return run;
}

Run run_exact(const ModuliSetList& sets) {
  Run run;
  run.seconds = timed([&] {
    for (const ModuliSet& set : sets) {
      auto d = decide_irreducible_moduli(set, kNoBudget);
      run.irreducible += d && d->irreducible ? 1 : 0;
      run.nodes += d ? d->nodes : 0;
    }
  });
  return run;
}

void BM_DecideCover(benchmark::State& state) {
  static const ModuliSetList sample = every_nth(*candidates_via_simpson(10, 512), 50);
  DecisionMemo memo;
  std::uint64_t nodes = 0;
  for (auto _ : state) {
    for (const ModuliSet& set : sample) nodes += decide_cover(set, kNoBudget, nullptr)->nodes;
  }
  state.counters["sets"] = static_cast<double>(sample.size());
  state.counters["nodes"] = static_cast<double>(nodes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DecideCover)->Unit(benchmark::kMillisecond);

void compare(const char* name, const ModuliSetList& sets, bool exact) {
  const Run fast = run_fast(sets, {}, true);
  std::printf("%-22s %7zu sets  decision %8.2f s  %6zu irreducible  %12llu nodes\n", name,
              sets.size(), fast.seconds, fast.irreducible,
              static_cast<unsigned long long>(fast.nodes));
  if (!exact) return;
  const Run slow = run_exact(sets);
  std::printf("%-22s %7s       node-exact %6.2f s  %6zu irreducible  %12llu nodes  ratio %.1fx  %s\n",
              "", "", slow.seconds, slow.irreducible, static_cast<unsigned long long>(slow.nodes),
              slow.seconds / fast.seconds, slow.irreducible == fast.irreducible ? "agree" : "DISAGREE");
}

void techniques(const ModuliSetList& sets) {
  struct Step {
    const char* name;
    DecisionOptions options;
    bool memo;
  };
  DecisionOptions o;
  o.reduce = o.merge = o.reduce_in_search = o.project = o.bound = o.fail_first = false;
  std::vector<Step> steps;
  steps.push_back({"plain", o, false});
  o.reduce = true;
  steps.push_back({"+ |A| < p", o, false});
  o.merge = true;
  steps.push_back({"+ |A| = p merge", o, false});
  o.reduce_in_search = o.project = true;
  steps.push_back({"+ inner projection", o, false});
  o.bound = true;
  steps.push_back({"+ best-gain bound", o, false});
  o.fail_first = true;
  steps.push_back({"+ fail first", o, false});
  steps.push_back({"+ memo", o, true});
  for (const Step& step : steps) {
    const Run run = run_fast(sets, step.options, step.memo);
    std::printf("  %-20s %8.2f s  %12llu nodes  %zu irreducible\n", step.name, run.seconds,
                static_cast<unsigned long long>(run.nodes), run.irreducible);
  }
}

}  // namespace
}  // namespace tilvane

int main(int argc, char** argv) {
  bool exact = true;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-exact") == 0) {
      exact = false;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();

  using namespace tilvane;
  std::printf("\nSIMD level %s, one thread\n", simd_level_name(detected_simd_level()));
  const ModuliSetList k10 = *candidates_via_simpson(10, 512);
  const ModuliSetList k11 = every_nth(*candidates_via_simpson(11, 1024), 200);
  compare("k=10 Simpson, all", k10, exact);
  compare("k=11 Simpson, 1/200", k11, exact);
  std::printf("\ntechniques, one after another, on k=11 Simpson 1/200:\n");
  techniques(k11);
  return 0;
}
