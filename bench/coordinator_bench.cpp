// What rank 0 of a cluster run spends on one chunk of a single candidate:
// the rank's request ("more"), the reply, and the outcome ("done") read,
// checked (a cover is confirmed) and recorded. Three ranks take turns on
// the k = 8 work list, whose outcomes are decided once beforehand, so only
// the coordinator's work is timed; the list is started again when it runs
// out. items_per_second is the chunks rank 0 serves per second on one core.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "census/exploration.h"
#include "census/space.h"
#include "census_tool/chunk_messages.h"
#include "census_tool/coordinator.h"

namespace tilvane {
namespace {

const ExplorationPlan kPlan{{SpaceKind::CommonMultiples, 8, 128}, SearchKind::Decide, 0, 1};
constexpr int kRanks = 3;

void BM_SingleCandidateChunks(benchmark::State& state) {
  auto built = space_candidates(kPlan.space);
  if (!built) {
    state.SkipWithError(built.error().c_str());
    return;
  }
  const ModuliSetList work = sample_work(std::move(*built), 1);
  const Decider decider(kPlan);
  std::vector<std::string> done_texts;
  for (std::size_t p = 0; p < work.size(); ++p) {
    auto outcome = decider.decide(work[p]);
    if (!outcome) {
      state.SkipWithError(outcome.error().c_str());
      return;
    }
    done_texts.push_back(render_rank_message(DoneMessage{{{p, std::move(*outcome), 1}}}));
  }
  const std::string hello = render_rank_message(HelloMessage{1, work.size(), kPlan});
  const std::string more = render_rank_message(MoreMessage{});

  std::unique_ptr<ExplorationLedger> ledger;
  std::unique_ptr<Coordinator> coordinator;
  std::vector<Outgoing> out;
  std::vector<std::size_t> held(kRanks);  // each rank's chunk, a single position
  const auto restart = [&] {
    ledger = std::make_unique<ExplorationLedger>(work, ExplorationTally{});
    coordinator = std::make_unique<Coordinator>(
        CoordinatorSettings{kPlan, kRanks, std::chrono::milliseconds(100000), 1}, *ledger, nullptr,
        Coordinator::Clock::now());
    for (int r = 0; r < kRanks; ++r) {
      out.clear();
      (void)coordinator->handle(r, hello, Coordinator::Clock::now(), out);
      held[static_cast<std::size_t>(r)] = static_cast<std::size_t>(r);
    }
  };
  restart();
  std::size_t next = kRanks;
  int rank = 0;
  std::int64_t chunks = 0;
  for (auto _ : state) {
    if (next >= work.size()) {
      state.PauseTiming();
      restart();
      next = kRanks;
      state.ResumeTiming();
    }
    const auto now = Coordinator::Clock::now();
    out.clear();
    Status asked = coordinator->handle(rank, more, now, out);
    Status returned =
        coordinator->handle(rank, done_texts[held[static_cast<std::size_t>(rank)]], now, out);
    if (!asked || !returned || out.size() != 1) {
      state.SkipWithError("the coordinator refused a request");
      return;
    }
    held[static_cast<std::size_t>(rank)] = next++;
    rank = (rank + 1) % kRanks;
    ++chunks;
  }
  state.SetItemsProcessed(chunks);
}
BENCHMARK(BM_SingleCandidateChunks);

}  // namespace
}  // namespace tilvane

BENCHMARK_MAIN();
