#include "census_tool/rank_worker.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "base/text_format.h"
#include "census_tool/chunk_messages.h"

namespace tilvane {
namespace {

using Clock = std::chrono::steady_clock;

// While a request for a chunk is unanswered the main thread looks at the
// link after a PollBackoff's pauses; otherwise every kQuietPoll, or at once
// when the workers need it.
constexpr std::chrono::microseconds kQuietPoll{10000};

// A chunk the rank holds. Its positions are started in order, so the
// started ones are always the first `started`.
struct HeldChunk {
  std::uint64_t begin = 0;
  std::uint64_t count = 0;
  std::uint64_t started = 0;
  std::uint64_t finished = 0;
  ModuliSetList sets;  // the candidates, read when the chunk arrived
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
//
// The workers wake the main thread when it has something to do: a chunk is
// finished, fewer positions wait than its low-water mark, the feed closed,
// or a worker left.
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
          if (unstarted_ + 1 == low_water_) tell_main();
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
    // A search ended by a stop request: the position goes back undecided,
    // and nothing further is started.
    if (outcome->kind == CandidateKind::Abandoned) {
      close_locked();
      return;
    }
    chunk.outcomes[taken.offset] = std::move(*outcome);
    chunk.micros[taken.offset] = micros;
    if (finished_locked(chunk)) tell_main();
  }

  void worker_left() {
    std::lock_guard lock(mutex_);
    ++workers_left_;
    tell_main();
  }

  void add(const ChunkMessage& message, ModuliSetList sets) {
    std::lock_guard lock(mutex_);
    HeldChunk chunk;
    chunk.begin = message.begin;
    chunk.count = message.count;
    chunk.sets = std::move(sets);
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

  // Waits until a worker has news for the main thread or the timeout
  // passes.
  void wait_for_news(std::chrono::microseconds timeout) {
    std::unique_lock lock(mutex_);
    news_for_main_.wait_for(lock, timeout, [this] { return news_; });
    news_ = false;
  }

  // The workers wake the main thread once the positions waiting to be
  // started drop below mark.
  void set_low_water(std::uint64_t mark) {
    std::lock_guard lock(mutex_);
    low_water_ = mark;
  }

  // The outcomes of the oldest chunk, taken away, once every position of it
  // that will be decided is: all of them while the feed is open, the
  // started ones once it is closed.
  std::optional<DoneMessage> take_done() {
    std::lock_guard lock(mutex_);
    if (chunks_.empty() || !finished_locked(chunks_.front())) return std::nullopt;
    HeldChunk& chunk = chunks_.front();
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
  std::size_t workers_left() const {
    std::lock_guard lock(mutex_);
    return workers_left_;
  }

 private:
  bool finished_locked(const HeldChunk& chunk) const {
    return chunk.finished == chunk.started && (closed_ || chunk.started == chunk.count);
  }
  void close_locked() {
    closed_ = true;
    open_.notify_all();
    tell_main();
  }
  void tell_main() {
    news_ = true;
    news_for_main_.notify_one();
  }

  mutable std::mutex mutex_;
  std::condition_variable open_;           // workers wait here for positions
  std::condition_variable news_for_main_;  // the main thread waits here
  std::deque<HeldChunk> chunks_;
  std::uint64_t unstarted_ = 0;
  std::uint64_t low_water_ = 0;
  std::size_t workers_left_ = 0;
  bool closed_ = false;
  bool news_ = false;
  std::optional<Error> failure_;
};

// One computing rank. The workers run as one job of the pool, started from
// a helper thread, and decide what the feed gives them; the main thread
// alone touches the link: it takes the coordinator's texts, returns
// finished chunks, asks for more and sends heartbeats, sleeping in between
// until the workers need it or the link is due a look.
class RankLoop {
 public:
  RankLoop(MessageLink& link, WorkerPool& pool, const Decider& decider, const WorkList& work,
           const RankWorkerSettings& settings)
      : link_(link), pool_(pool), decider_(decider), work_(work), settings_(settings) {}

  Result<int> run() {
    const std::uint64_t workers = pool_.worker_count();
    if (auto sent = send(HelloMessage{workers, work_.count(), settings_.plan}); !sent) {
      return std::move(sent).take_error();
    }
    asking_ = true;
    std::thread job;
    try {
      job = std::thread([this, workers] {
        pool_.for_each_index(workers, [this](std::size_t) {
          decide_while_fed();
          feed_.worker_left();
        });
      });
    } catch (const std::system_error& e) {
      return report(
          fail(cat("cannot start the thread that runs this rank's workers: ", e.code().message())));
    }
    while (feed_.workers_left() < workers) {
      feed_.wait_for_news(next_look());
      if (trouble_) continue;
      if (auto looked = look(); !looked) {
        trouble_ = std::move(looked).take_error();
        feed_.close();
      }
    }
    job.join();
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

  // Each candidate is timed on the steady clock, which is read without a
  // system call; the thread's CPU clock is one, and most candidates take
  // less than the two reads would. With one rank per core the two agree.
  void decide_while_fed() {
    while (auto taken = feed_.take()) {
      const auto start = Clock::now();
      auto outcome = decider_.decide(taken->chunk->sets[taken->offset]);
      const auto micros =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
      feed_.finish(*taken, std::move(outcome), static_cast<std::uint64_t>(micros.count()));
    }
  }

  // How long the main thread may sleep before it looks at the link again.
  std::chrono::microseconds next_look() {
    return !asking_ || halted_ ? kQuietPoll : reply_wait_.next();
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
    if (settings_.abandon_searches) settings_.abandon_searches();
    feed_.close();
  }

  Status take_message(std::string_view text) {
    auto message = parse_coordinator_message(text);
    if (!message) {
      return fail(cat("message from the coordinator does not parse: ", message.error()));
    }
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
    if (chunk.begin > work_.count() || chunk.count > work_.count() - chunk.begin) {
      return fail(cat("chunk of candidates ", chunk.begin, " to ", chunk.begin + chunk.count - 1,
                      " lies outside the work list of ", work_.count()));
    }
    // The chunk's candidates are read here, on the main thread, so that the
    // workers never wait for the list.
    auto reader = work_.read_from(chunk.begin);
    if (!reader) return std::move(reader).take_error();
    ModuliSetList sets(static_cast<std::size_t>(chunk.count));
    for (ModuliSet& set : sets) {
      if (!(*reader)->next(set)) return fail(cat("work list ends within chunk ", chunk.begin));
    }
    // A chunk that arrives once the job stops is held on a closed feed and
    // so goes back undecided.
    feed_.add(chunk, std::move(sets));
    asking_ = false;
    reply_wait_.reset();
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
      // A chunk that comes back short does so because this process was
      // asked to stop (its searches were abandoned) or the job stops; the
      // coordinator hears of the stop before it sees the chunk.
      if (auto watched = watch_stop(); !watched) return watched;
      if (auto sent = send(*done); !sent) return sent;
    }
    return {};
  }

  // A further chunk is asked for once fewer candidates wait to be started
  // than the rank has workers or than half the last chunk: its reply then
  // comes while the workers still have the other half, and near the end of
  // the job, when chunks are single candidates, the rank holds little that
  // an idle rank could have taken.
  std::uint64_t low_water() const {
    return std::max<std::uint64_t>(pool_.worker_count(), (last_chunk_ + 1) / 2);
  }

  // One round of the main thread's duties: texts in and finished chunks out,
  // a request for a further chunk when the waiting candidates run low and
  // none is unanswered, and a heartbeat while the rank holds work and has
  // said nothing for a while. A request the coordinator cannot serve since
  // no work is left stays unanswered, and the rank asks no further.
  Status look() {
    if (auto watched = watch_stop(); !watched) return watched;
    if (auto exchanged = exchange(); !exchanged) return exchanged;
    if (!halted_ && !ended_ && !asking_ && feed_.unstarted() < low_water()) {
      asking_ = true;
      reply_wait_.reset();
      if (auto sent = send(MoreMessage{}); !sent) return sent;
    }
    feed_.set_low_water(asking_ ? 0 : low_water());
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
  const WorkList& work_;
  const RankWorkerSettings& settings_;
  Feed feed_;
  bool halted_ = false;     // the job stops: start nothing more
  bool told_ = false;       // this rank's own stop request has gone out
  bool asking_ = false;     // a request for a chunk is unanswered
  PollBackoff reply_wait_;  // while a request is unanswered
  std::uint64_t last_chunk_ = 0;
  std::optional<int> ended_;
  std::optional<Error> trouble_;
  Clock::time_point last_sent_ = Clock::now();
};

}  // namespace

Result<int> run_rank_worker(MessageLink& link, WorkerPool& pool, const Decider& decider,
                            const WorkList& work, const RankWorkerSettings& settings) {
  return RankLoop(link, pool, decider, work, settings).run();
}

Result<int> run_rank_worker(MessageLink& link, WorkerPool& pool, const Decider& decider,
                            std::span<const ModuliSet> work, const RankWorkerSettings& settings) {
  return run_rank_worker(link, pool, decider, *set_work(work), settings);
}

}  // namespace tilvane
