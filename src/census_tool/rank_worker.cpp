#include "census_tool/rank_worker.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "base/text_format.h"
#include "census_tool/chunk_messages.h"

namespace tilvane {
namespace {

using Clock = std::chrono::steady_clock;

// How often the rank's main thread tends the link while its workers decide.
// A finished chunk and a request for more go out within about this time;
// the request goes out early enough that this delay is hidden.
constexpr std::chrono::milliseconds kLookInterval{1};

// A chunk the rank holds. Its positions are started in order, so the
// started ones are always the first `started`.
struct HeldChunk {
  std::uint64_t begin = 0;
  std::uint64_t count = 0;
  std::uint64_t started = 0;
  std::uint64_t finished = 0;
  std::vector<std::optional<CandidateOutcome>> outcomes;  // by offset in the chunk
  std::vector<std::uint64_t> micros;
};

// A position a worker took: its chunk and its offset there.
struct Taken {
  HeldChunk* chunk = nullptr;
  std::uint64_t offset = 0;
};

// The chunks a rank holds, shared by its main thread and its workers under
// one lock. Workers take the next unstarted position of the oldest chunk
// that has one and record what they decided; the main thread adds chunks as
// they arrive and takes the oldest away once it is finished. A chunk is
// never taken away while a worker decides one of its positions, and a deque
// keeps the others in place, so a Taken stays valid until its outcome is
// recorded.
class Feed {
 public:
  // The next position to decide, waiting until there is one; nothing once
  // the feed is closed.
  std::optional<Taken> take() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (closed_) return std::nullopt;
      for (HeldChunk& chunk : chunks_) {
        if (chunk.started < chunk.count) {
          --unstarted_;
          return Taken{&chunk, chunk.started++};
        }
      }
      open_.wait(lock);
    }
  }

  // Records a decision; a failed one closes the feed, and the first failure
  // is kept.
  void finish(const Taken& taken, Result<CandidateOutcome> outcome, std::uint64_t micros) {
    std::lock_guard lock(mutex_);
    HeldChunk& chunk = *taken.chunk;
    ++chunk.finished;
    if (!outcome) {
      if (!failure_) failure_ = std::move(outcome).take_error();
      close_locked();
      return;
    }
    chunk.outcomes[taken.offset] = std::move(*outcome);
    chunk.micros[taken.offset] = micros;
  }

  void add(const ChunkMessage& message) {
    std::lock_guard lock(mutex_);
    HeldChunk chunk;
    chunk.begin = message.begin;
    chunk.count = message.count;
    chunk.outcomes.resize(static_cast<std::size_t>(message.count));
    chunk.micros.resize(static_cast<std::size_t>(message.count), 0);
    chunks_.push_back(std::move(chunk));
    unstarted_ += message.count;
    open_.notify_all();
  }

  // No further position is started; workers waiting for one return.
  void close() {
    std::lock_guard lock(mutex_);
    close_locked();
  }

  // The outcomes of the oldest chunk, taken away, once every position of it
  // that will be decided is: all of them while the feed is open, the
  // started ones once it is closed.
  std::optional<DoneMessage> take_done() {
    std::lock_guard lock(mutex_);
    if (chunks_.empty()) return std::nullopt;
    HeldChunk& chunk = chunks_.front();
    if (chunk.finished < chunk.started || (!closed_ && chunk.started < chunk.count)) {
      return std::nullopt;
    }
    DoneMessage done;
    for (std::size_t i = 0; i < chunk.outcomes.size(); ++i) {
      if (!chunk.outcomes[i]) continue;
      done.outcomes.push_back({chunk.begin + i, std::move(*chunk.outcomes[i]), chunk.micros[i]});
    }
    unstarted_ -= chunk.count - chunk.started;
    chunks_.pop_front();
    return done;
  }

  std::uint64_t unstarted() const {
    std::lock_guard lock(mutex_);
    return unstarted_;
  }
  // The oldest chunk held, if any.
  std::optional<ChunkMessage> oldest() const {
    std::lock_guard lock(mutex_);
    if (chunks_.empty()) return std::nullopt;
    return ChunkMessage{chunks_.front().begin, chunks_.front().count};
  }
  std::optional<Error> failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
  }

 private:
  void close_locked() {
    closed_ = true;
    open_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable open_;
  std::deque<HeldChunk> chunks_;
  std::uint64_t unstarted_ = 0;
  bool closed_ = false;
  std::optional<Error> failure_;
};

// One computing rank. While the workers decide, the main thread, which
// would only wait, tends the link every look interval: it takes the
// coordinator's texts, returns finished chunks, asks for more and sends
// heartbeats. Only the main thread touches the link.
class RankLoop {
 public:
  RankLoop(MessageLink& link, WorkerPool& pool, const Decider& decider,
           std::span<const ModuliSet> work, const RankWorkerSettings& settings)
      : link_(link), pool_(pool), decider_(decider), work_(work), settings_(settings) {}

  Result<int> run() {
    const std::uint64_t workers = pool_.worker_count();
    if (auto sent = send(HelloMessage{workers, work_.size(), settings_.plan}); !sent) {
      return std::move(sent).take_error();
    }
    asked_ = true;
    const auto worker = [this](std::size_t) { decide_while_fed(); };
    const auto while_waiting = [this] {
      if (trouble_) return;
      if (auto looked = look(); !looked) {
        trouble_ = std::move(looked).take_error();
        feed_.close();
      }
    };
    pool_.for_each_index(pool_.worker_count(), worker,
                         std::min(kLookInterval, settings_.heartbeat_interval), while_waiting);
    if (trouble_) return report(std::move(*trouble_));
    if (auto failure = feed_.failure()) return report(std::move(*failure));
    auto ended = wind_down();
    if (!ended) return report(std::move(ended).take_error());
    return ended;
  }

 private:
  Status send(const RankMessage& message) {
    last_sent_ = Clock::now();
    return link_.send(0, render_rank_message(message));
  }

  // A failure of this rank goes to the coordinator, which reports it for the
  // whole job, and is returned.
  Error report(Error error) {
    (void)send(FailMessage{error.text});
    return error;
  }

  void decide_while_fed() {
    while (auto taken = feed_.take()) {
      const auto start = Clock::now();
      auto outcome = decider_.decide(work_[taken->chunk->begin + taken->offset]);
      const auto micros = static_cast<std::uint64_t>(
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
      feed_.finish(*taken, std::move(outcome), micros);
    }
  }

  // Tells the coordinator once when this process was asked to stop.
  Status watch_stop() {
    if (told_ || !settings_.stop_requested || !settings_.stop_requested()) return {};
    told_ = true;
    halt();
    return send(StopMessage{});
  }

  void halt() {
    halted_ = true;
    feed_.close();
  }

  Status take_message(std::string_view text) {
    auto message = parse_coordinator_message(text);
    if (!message)
      return fail(cat("message from the coordinator does not parse: ", message.error()));
    if (std::holds_alternative<HaltMessage>(*message)) {
      halt();
      return {};
    }
    if (const auto* end = std::get_if<EndMessage>(&*message)) {
      if (auto held = feed_.oldest()) {
        return fail(cat("the coordinator ended the job while this rank held candidates ",
                        held->begin, " to ", held->begin + held->count - 1));
      }
      ended_ = end->status;
      feed_.close();
      return {};
    }
    const ChunkMessage chunk = std::get<ChunkMessage>(*message);
    if (chunk.begin > work_.size() || chunk.count > work_.size() - chunk.begin) {
      return fail(cat("chunk of candidates ", chunk.begin, " to ", chunk.begin + chunk.count - 1,
                      " lies outside the work list of ", work_.size()));
    }
    // A chunk that arrives once the job stops is held on a closed feed and
    // so goes back undecided.
    feed_.add(chunk);
    asked_ = false;
    last_chunk_ = chunk.count;
    return {};
  }

  // Every text that has arrived, then every finished chunk back, in order.
  Status exchange() {
    for (;;) {
      auto received = link_.receive();
      if (!received) return std::move(received).take_error();
      if (!*received) break;
      if (auto taken = take_message((*received)->text); !taken) return taken;
      if (ended_) break;
    }
    while (auto done = feed_.take_done()) {
      if (auto sent = send(*done); !sent) return sent;
    }
    return {};
  }

  // One round of the main thread's duties while the workers decide. A
  // further chunk is asked for when fewer candidates wait to be started
  // than the rank has workers or than half the last chunk held: large
  // chunks are then asked for well before they are needed, and near the
  // end of the job, when chunks are single candidates, a rank holds little
  // that an idle rank could have taken.
  Status look() {
    if (auto watched = watch_stop(); !watched) return watched;
    if (auto exchanged = exchange(); !exchanged) return exchanged;
    if (!halted_ && !ended_ && !asked_ &&
        feed_.unstarted() < std::max<std::uint64_t>(pool_.worker_count(), (last_chunk_ + 1) / 2)) {
      asked_ = true;
      if (auto sent = send(MoreMessage{}); !sent) return sent;
    }
    if (feed_.oldest() && Clock::now() - last_sent_ >= settings_.heartbeat_interval) {
      if (auto sent = send(BeatMessage{}); !sent) return sent;
    }
    return {};
  }

  // The workers have stopped: the job ended, or it is stopping and this rank
  // returns what it holds, including any chunk still on its way, and waits
  // for the end.
  Result<int> wind_down() {
    PollBackoff backoff;
    for (;;) {
      if (auto exchanged = exchange(); !exchanged) return std::move(exchanged).take_error();
      if (ended_) return *ended_;
      if (auto watched = watch_stop(); !watched) return std::move(watched).take_error();
      backoff.sleep();
    }
  }

  MessageLink& link_;
  WorkerPool& pool_;
  const Decider& decider_;
  std::span<const ModuliSet> work_;
  const RankWorkerSettings& settings_;
  Feed feed_;
  bool halted_ = false;  // the job stops: start nothing more
  bool told_ = false;    // this rank's own stop request has gone out
  bool asked_ = false;   // a request for a chunk is unanswered
  std::uint64_t last_chunk_ = 0;
  std::optional<int> ended_;
  std::optional<Error> trouble_;
  Clock::time_point last_sent_ = Clock::now();
};

}  // namespace

Result<int> run_rank_worker(MessageLink& link, WorkerPool& pool, const Decider& decider,
                            std::span<const ModuliSet> work, const RankWorkerSettings& settings) {
  return RankLoop(link, pool, decider, work, settings).run();
}

}  // namespace tilvane
