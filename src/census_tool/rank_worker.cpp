#include "census_tool/rank_worker.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "base/text_format.h"
#include "census_tool/chunk_messages.h"

namespace tilvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPollInterval{100};

// The state of one rank between its messages.
struct RankState {
  MessageLink& link;
  const RankWorkerSettings& settings;
  bool halted = false;  // the job stops: decide nothing more
  bool told = false;    // this rank's own stop request has gone out

  Status send(const RankMessage& message) { return link.send(0, render_rank_message(message)); }

  // Tells the coordinator once when this process was asked to stop.
  Status watch_stop() {
    if (told || !settings.stop_requested || !settings.stop_requested()) return {};
    told = true;
    halted = true;
    return send(StopMessage{});
  }

  // A failure of this rank goes to the coordinator, which reports it for the
  // whole job, and is returned.
  Error report(Error error) {
    (void)send(FailMessage{error.text});
    return error;
  }
};

// Decides the positions of one chunk on the pool. The calling thread, which
// would only wait, keeps the link: it sends heartbeats, takes a halt from the
// coordinator and watches for a stop request; after a halt or a failed
// decision no further candidate is started, and the outcomes decided so far
// are what the chunk returns.
Result<DoneMessage> decide_chunk(RankState& rank, WorkerPool& pool, const Decider& decider,
                                 std::span<const ModuliSet> work, const ChunkMessage& chunk) {
  const auto count = static_cast<std::size_t>(chunk.count);
  std::vector<std::optional<Result<CandidateOutcome>>> slots(count);
  std::vector<std::uint64_t> micros(count, 0);
  std::atomic<bool> halt{false};
  std::optional<Error> trouble;
  auto last_beat = Clock::now();

  const auto task = [&](std::size_t i) {
    if (halt.load(std::memory_order_relaxed)) return;
    const auto start = Clock::now();
    auto outcome = decider.decide(work[static_cast<std::size_t>(chunk.begin) + i]);
    micros[i] = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    if (!outcome) halt.store(true, std::memory_order_relaxed);
    slots[i] = std::move(outcome);
  };
  const auto while_waiting = [&] {
    if (trouble) return;
    Status status = rank.watch_stop();
    if (status) {
      auto received = rank.link.receive();
      if (!received) {
        status = std::move(received).take_error();
      } else if (*received) {
        auto message = parse_coordinator_message((*received)->text);
        if (!message) {
          status = fail(cat("message from the coordinator does not parse: ", message.error()));
        } else if (std::holds_alternative<HaltMessage>(*message)) {
          rank.halted = true;
        } else {
          status = fail(cat("the coordinator sent ", one_line((*received)->text),
                            " while this rank was deciding a chunk"));
        }
      }
    }
    if (status && Clock::now() - last_beat >= rank.settings.heartbeat_interval) {
      last_beat = Clock::now();
      status = rank.send(BeatMessage{});
    }
    if (!status) trouble = std::move(status).take_error();
    if (trouble || rank.halted) halt.store(true, std::memory_order_relaxed);
  };
  pool.for_each_index(count, task, std::min(kPollInterval, rank.settings.heartbeat_interval),
                      while_waiting);
  if (trouble) return std::move(*trouble);

  DoneMessage done;
  for (std::size_t i = 0; i < count; ++i) {
    if (!slots[i]) continue;
    if (!*slots[i]) return std::move(*slots[i]).take_error();
    done.outcomes.push_back({chunk.begin + i, std::move(slots[i]->value()), micros[i]});
  }
  return done;
}

}  // namespace

// Between chunks the rank waits for the coordinator's next text, polling
// with a growing pause. A halt may arrive at any time, even after the last
// chunk was returned; a chunk that arrives once the job stops is returned
// undecided.
Result<int> run_rank_worker(MessageLink& link, WorkerPool& pool, const Decider& decider,
                            std::span<const ModuliSet> work, const RankWorkerSettings& settings) {
  RankState rank{link, settings};
  if (auto sent = rank.send(HelloMessage{pool.worker_count(), work.size(), settings.plan}); !sent) {
    return std::move(sent).take_error();
  }
  PollBackoff backoff;
  for (;;) {
    auto received = link.receive();
    if (!received) return std::move(received).take_error();
    if (!*received) {
      if (auto watched = rank.watch_stop(); !watched) return std::move(watched).take_error();
      backoff.sleep();
      continue;
    }
    backoff.reset();
    auto message = parse_coordinator_message((*received)->text);
    if (!message) {
      return rank.report(
          fail(cat("message from the coordinator does not parse: ", message.error())));
    }
    if (std::holds_alternative<HaltMessage>(*message)) {
      rank.halted = true;
      continue;
    }
    if (const auto* end = std::get_if<EndMessage>(&*message)) return end->status;
    const ChunkMessage chunk = std::get<ChunkMessage>(*message);
    if (chunk.begin > work.size() || chunk.count > work.size() - chunk.begin) {
      return rank.report(
          fail(cat("chunk of candidates ", chunk.begin, " to ", chunk.begin + chunk.count - 1,
                   " lies outside the work list of ", work.size())));
    }
    DoneMessage done;
    if (!rank.halted) {
      auto decided = decide_chunk(rank, pool, decider, work, chunk);
      if (!decided) return rank.report(std::move(decided).take_error());
      done = std::move(*decided);
    }
    if (auto sent = rank.send(done); !sent) return std::move(sent).take_error();
  }
}

}  // namespace tilvane
