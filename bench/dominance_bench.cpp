// What bounding the dominance store costs: a stretch of consecutive k = 13
// candidates (Simpson space, L 4096) decided on one thread with a memo and
// a store of 8, 64 (the default) and 512 MB, and with a store emptied every
// 1024 candidates (a bound by a window in candidate order). Every variant
// must find the same sets; the time is what the bound costs.
//
//   dominance_bench [START [COUNT]]   the stretch (default 61062454, 200000:
//                                     the middle of the space)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/moduli_set_list.h"
#include "census/space_stream.h"
#include "engine/decision_memo.h"
#include "engine/decision_search.h"
#include "engine/dominance_store.h"
#include "engine/simd_level.h"

namespace tilvane {
namespace {

struct Variant {
  const char* name;
  std::size_t store_bytes;
  std::uint64_t empty_every;  // 0: never
};

int run(std::uint64_t start, std::uint64_t count) {
  auto cursor = SpaceCursor::open({SpaceKind::Simpson, 13, 4096});
  if (!cursor || !cursor->seek(start)) {
    std::fprintf(stderr, "cannot reach candidate %llu\n", static_cast<unsigned long long>(start));
    return 1;
  }
  ModuliSetList sets;
  ModuliSet set;
  while (sets.size() < count && cursor->next(set)) sets.push_back(set);
  std::printf("k = 13 candidates %llu to %llu, one thread, SIMD level %s\n",
              static_cast<unsigned long long>(start),
              static_cast<unsigned long long>(start + sets.size()),
              simd_level_name(detected_simd_level()));
  const Variant variants[] = {{"store 64 MB (default)", std::size_t{64} << 20, 0},
                              {"store 8 MB", std::size_t{8} << 20, 0},
                              {"store 512 MB", std::size_t{512} << 20, 0},
                              {"store emptied every 1024", std::size_t{64} << 20, 1024}};
  std::size_t expected = 0;
  for (const Variant& v : variants) {
    DecisionMemo memo;
    auto store = std::make_unique<DominanceStore>(v.store_bytes);
    std::size_t irreducible = 0;
    const auto began = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < sets.size(); ++i) {
      if (v.empty_every != 0 && i % v.empty_every == 0) {
        store = std::make_unique<DominanceStore>(v.store_bytes);
      }
      auto verdict = decide_irreducible_fast(sets[i], UINT64_MAX, &memo, detected_simd_level(),
                                             DecisionOptions{}, store.get());
      if (!verdict) {
        std::fprintf(stderr, "%s\n", verdict.error().c_str());
        return 1;
      }
      irreducible += verdict->verdict == Verdict::Irreducible ? 1 : 0;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (&v == variants) expected = irreducible;
    std::printf("%-26s %8.2f s  %zu irreducible%s\n", v.name, seconds, irreducible,
                irreducible == expected ? "" : "  DIFFERS");
    if (irreducible != expected) return 1;
  }
  return 0;
}

}  // namespace
}  // namespace tilvane

int main(int argc, char** argv) {
  const std::uint64_t start = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 61062454;
  const std::uint64_t count = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 200000;
  return tilvane::run(start, count);
}
