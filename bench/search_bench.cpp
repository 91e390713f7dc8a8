// Speed of the residue searches on fixed samples of census searches: the
// literal search and the fast search on every instruction-set level this
// processor offers, side by side in one run, in nanoseconds per node; and the
// wall time of deciding whole censuses on all hardware threads with a shared
// result cache. A summary table with the ratio to the literal search follows
// the benchmark output.
//
// The samples are built here (the census generators are not used, so the
// program measures the engine alone): every 2000th k = 9 common-multiple
// candidate and every 400th k = 10 and every 20000th k = 11 Simpson-filtered
// candidate, each with the searches its decision runs (the whole set, then
// deletions up to the first that covers); and the small census's sets of
// largest period, where the counter search is measured too.
//
//   search_bench                       samples, then k = 9 and k = 10 censuses
//                                      (with and without the cache)
//   search_bench --with-k11-census     also the k = 11 census (most of an hour)
//   search_bench --benchmark_filter=Sample   samples only
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <numeric>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/counter_search.h"
#include "engine/fast_search.h"
#include "engine/irreducibility.h"
#include "engine/residue_search.h"
#include "engine/search_cache.h"
#include "engine/simd_level.h"

namespace tilvane {
namespace {

using Moduli = std::vector<std::uint64_t>;
constexpr std::uint64_t kBudget = 50000000;

Moduli divisors_from_two(std::uint64_t n) {
  Moduli out;
  for (std::uint64_t d = 2; d <= n; ++d) {
    if (n % d == 0) out.push_back(d);
  }
  return out;
}

void subsets(const Moduli& pool, std::size_t from, std::size_t left, Moduli& prefix,
             std::vector<Moduli>& out) {
  if (left == 0) {
    out.push_back(prefix);
    return;
  }
  for (std::size_t i = from; i + left <= pool.size(); ++i) {
    prefix.push_back(pool[i]);
    subsets(pool, i + 1, left - 1, prefix, out);
    prefix.pop_back();
  }
}

std::uint64_t lcm_of(const Moduli& set) {
  return std::accumulate(set.begin(), set.end(), std::uint64_t{1},
                         [](std::uint64_t a, std::uint64_t b) { return std::lcm(a, b); });
}

// The sum of (p - 1)·e over the prime powers p^e of n.
std::uint64_t simpson_sum(std::uint64_t n) {
  std::uint64_t sum = 0;
  for (std::uint64_t q = 2; q <= n / q; ++q) {
    while (n % q == 0) {
      n /= q;
      sum += q - 1;
    }
  }
  return n > 1 ? sum + n - 1 : sum;
}

// k-sets of moduli from 2 with common multiple L = exactly lcm, for every L
// up to max_lcm that passes the filter, in lexicographic order.
std::vector<Moduli> candidates(std::size_t k, std::uint64_t max_lcm, bool simpson) {
  std::vector<Moduli> out;
  for (std::uint64_t lcm = 2; lcm <= max_lcm; ++lcm) {
    if (simpson && simpson_sum(lcm) >= k) continue;
    std::vector<Moduli> sets;
    Moduli prefix;
    subsets(divisors_from_two(lcm), 0, k, prefix, sets);
    for (Moduli& set : sets) {
      if (lcm_of(set) == lcm) out.push_back(std::move(set));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<Moduli> census_candidates(std::size_t k) {
  return candidates(k, std::uint64_t{1} << (k - 1), k >= 10);
}

// The searches that deciding each sampled candidate runs.
std::vector<Moduli> sample_searches(std::size_t k, std::size_t stride) {
  const std::vector<Moduli> all = census_candidates(k);
  std::vector<Moduli> searches;
  for (std::size_t i = 0; i < all.size(); i += stride) {
    const Moduli& set = all[i];
    searches.push_back(set);
    auto whole = find_cover(set, kBudget);
    if (!whole || whole->outcome != SearchOutcome::Found) continue;
    for (std::size_t skip = 0; skip < set.size(); ++skip) {
      Moduli rest;
      for (std::size_t j = 0; j < set.size(); ++j) {
        if (j != skip) rest.push_back(set[j]);
      }
      searches.push_back(rest);
      auto deletion = find_cover(rest, kBudget);
      if (deletion && deletion->outcome == SearchOutcome::Found) break;
    }
  }
  return searches;
}

// The small census's searches with the largest periods: {2, 3, 5, p, q, r}
// for primes 7 <= p < q < r <= 31 (periods up to 620310), none covering.
std::vector<Moduli> large_period_searches() {
  const Moduli primes = {7, 11, 13, 17, 19, 23, 29, 31};
  std::vector<Moduli> triples;
  Moduli prefix;
  subsets(primes, 0, 3, prefix, triples);
  std::vector<Moduli> searches;
  for (const Moduli& t : triples) searches.push_back({2, 3, 5, t[0], t[1], t[2]});
  return searches;
}

struct Sample {
  std::string name;
  std::vector<Moduli> searches;
};

std::vector<Sample>& samples() {
  static std::vector<Sample> all = [] {
    std::vector<Sample> s;
    s.push_back({"k9", sample_searches(9, 2000)});
    s.push_back({"k10", sample_searches(10, 400)});
    s.push_back({"k11", sample_searches(11, 20000)});
    s.push_back({"large", large_period_searches()});
    return s;
  }();
  return all;
}

// Processor time of the calling thread: less disturbed than wall time when
// other work shares the machine.
double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Engines: -1 is the literal search, -2 the counter search (the large
// sample only: its sets all pass the pre-tests), otherwise a SimdLevel.
constexpr int kLiteral = -1;
constexpr int kCounter = -2;

std::string engine_name(int engine) {
  if (engine == kLiteral) return "literal";
  if (engine == kCounter) return "counter";
  return simd_level_name(static_cast<SimdLevel>(engine));
}

Result<CoverSearch> search_with(const Moduli& moduli, int engine) {
  if (engine == kLiteral) return find_cover_literal(moduli, kBudget);
  if (engine == kCounter) return counter_search(moduli, lcm_of(moduli), kBudget);
  return find_cover_fast(moduli, kBudget, static_cast<SimdLevel>(engine));
}

// Processor nanoseconds per node, by sample and then by engine in the order
// measured (literal first).
std::map<std::string, std::vector<std::pair<std::string, double>>> ns_per_node;

void BM_Sample(benchmark::State& state, std::size_t sample_index, int engine) {
  const Sample& sample = samples()[sample_index];
  std::uint64_t nodes = 0;
  const double start = thread_seconds();
  for (auto _ : state) {
    nodes = 0;
    for (const Moduli& moduli : sample.searches) {
      auto r = search_with(moduli, engine);
      if (!r) {
        state.SkipWithError(r.error().c_str());
        return;
      }
      nodes += r->nodes;
    }
    benchmark::DoNotOptimize(nodes);
  }
  const double seconds = thread_seconds() - start;
  const double total = static_cast<double>(nodes) * static_cast<double>(state.iterations());
  state.counters["nodes"] = static_cast<double>(nodes);
  state.counters["nodes/s"] = benchmark::Counter(total, benchmark::Counter::kIsRate);
  state.counters["ns/node"] = seconds * 1e9 / total;
  // Google Benchmark may call this more than once; the last run counts.
  auto& engines = ns_per_node[sample.name];
  const std::string name = engine_name(engine);
  auto same = std::find_if(engines.begin(), engines.end(),
                           [&](const auto& entry) { return entry.first == name; });
  if (same == engines.end()) same = engines.insert(engines.end(), {name, 0.0});
  same->second = seconds * 1e9 / total;
}

// Decides every candidate of a census on all hardware threads, candidates
// taken in chunks from a shared counter, with one result cache for all (or
// none, for comparison).
void BM_Census(benchmark::State& state, std::size_t k, bool with_cache) {
  const std::vector<Moduli> all = census_candidates(k);
  for (auto _ : state) {
    SearchCache cache(kBudget, with_cache ? SearchCache::kDefaultSlots : 64);
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> total{0};
    std::atomic<std::size_t> found{0};
    std::atomic<bool> failed{false};
    const unsigned workers = std::max(1U, std::thread::hardware_concurrency());
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) {
      threads.emplace_back([&] {
        constexpr std::size_t kChunk = 16;
        for (std::size_t begin = next.fetch_add(kChunk); begin < all.size();
             begin = next.fetch_add(kChunk)) {
          for (std::size_t i = begin; i < std::min(all.size(), begin + kChunk); ++i) {
            auto r = with_cache ? decide_irreducible_moduli(all[i], kBudget, cache)
                                : decide_irreducible_moduli(all[i], kBudget);
            if (!r) {
              failed = true;
              continue;
            }
            total += r->nodes;
            if (r->irreducible) ++found;
          }
        }
      });
    }
    for (std::thread& t : threads) t.join();
    if (failed) state.SkipWithError("a decision failed");
    state.counters["candidates"] = static_cast<double>(all.size());
    state.counters["irreducible"] = static_cast<double>(found.load());
    state.counters["nodes"] = static_cast<double>(total.load());
    state.counters["cached"] = static_cast<double>(cache.stored());
    state.counters["workers"] = workers;
  }
}

void register_benchmarks(bool with_k11) {
  for (std::size_t s = 0; s < samples().size(); ++s) {
    const std::string name = "Sample/" + samples()[s].name;
    for (int engine = kCounter; engine <= static_cast<int>(SimdLevel::Avx512); ++engine) {
      if (engine == kCounter && samples()[s].name != "large") continue;
      if (engine >= 0 && !simd_level_supported(static_cast<SimdLevel>(engine))) continue;
      benchmark::RegisterBenchmark((name + "/" + engine_name(engine)).c_str(), BM_Sample, s, engine)
          ->Unit(benchmark::kMillisecond)
          ->MinTime(engine < 0 ? 0.01 : 1.0);
    }
  }
  for (std::size_t k : {std::size_t{9}, std::size_t{10}, std::size_t{11}}) {
    if (k == 11 && !with_k11) continue;
    for (bool with_cache : {true, false}) {
      const std::string name =
          "Census/k" + std::to_string(k) + (with_cache ? "/cache" : "/no_cache");
      benchmark::RegisterBenchmark(name.c_str(), BM_Census, k, with_cache)
          ->Unit(benchmark::kSecond)
          ->Iterations(1)
          ->UseRealTime();
    }
  }
}

void print_summary() {
  if (ns_per_node.empty()) return;
  std::printf(
      "\nns per node (processor time of the sample loop), and the literal search's ns "
      "per node divided by each engine's:\n");
  for (const auto& [sample, engines] : ns_per_node) {
    double literal = 0;
    for (const auto& [engine, ns] : engines) {
      if (engine == "literal") literal = ns;
    }
    for (const auto& [engine, ns] : engines) {
      std::printf("  %-4s %-9s %8.2f ns/node", sample.c_str(), engine.c_str(), ns);
      if (literal > 0 && engine != "literal") std::printf("   %5.1fx faster", literal / ns);
      std::printf("\n");
    }
  }
}

}  // namespace
}  // namespace tilvane

int main(int argc, char** argv) {
  bool with_k11 = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--with-k11-census") == 0) {
      with_k11 = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  std::printf("simd level: %s\n", tilvane::simd_level_name(tilvane::detected_simd_level()));
  tilvane::register_benchmarks(with_k11);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tilvane::print_summary();
  return 0;
}
