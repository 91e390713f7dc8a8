#include "census_tool/coordinator.h"

#include <algorithm>
#include <utility>

#include "base/text_format.h"
#include "base/uint128.h"
#include "census/checkpoint_pacer.h"
#include "engine/congruence.h"
#include "engine/cover_check.h"
#include "engine/period.h"

namespace tilvane {
namespace {

using Clock = std::chrono::steady_clock;

// How often the serving loop shows progress, checks liveness and looks at
// the checkpoint clock.
constexpr std::chrono::milliseconds kLookInterval{100};

std::string seconds_of(std::chrono::milliseconds span) {
  const auto ms = static_cast<std::uint64_t>(span.count());
  return ms % 1000 == 0 ? cat(ms / 1000, " s") : cat(ms / 1000, ".", (ms % 1000) / 100, " s");
}

std::string describe_work(const ExplorationPlan& plan, std::uint64_t work_count) {
  return cat(describe_plan(plan), ", ", work_count, " candidates");
}

}  // namespace

std::uint64_t chunk_size(std::uint64_t unassigned, std::uint64_t all_workers,
                         std::uint64_t rank_workers, std::uint64_t max_per_worker) {
  if (unassigned == 0) return 0;
  const u128 share = static_cast<u128>(unassigned) * std::max<std::uint64_t>(rank_workers, 1) /
                     (static_cast<u128>(std::max<std::uint64_t>(all_workers, 1)) * 4);
  const u128 cap = static_cast<u128>(std::max<std::uint64_t>(max_per_worker, 1)) *
                   std::max<std::uint64_t>(rank_workers, 1);
  const u128 size = std::min({share, cap, static_cast<u128>(unassigned)});
  return std::max<std::uint64_t>(static_cast<std::uint64_t>(size), 1);
}

Coordinator::Coordinator(const CoordinatorSettings& settings, ExplorationLedger& ledger,
                         std::vector<double>* durations, Clock::time_point now)
    : settings_(settings),
      ledger_(ledger),
      durations_(durations),
      ranks_(settings.ranks),
      cursor_(ledger.next()) {
  for (Rank& rank : ranks_) rank.last_heard = now;
}

Status Coordinator::handle(int from, std::string_view text, Clock::time_point now,
                           std::vector<Outgoing>& out) {
  if (from < 0 || static_cast<std::size_t>(from) >= ranks_.size()) {
    return fail(cat("message from rank ", from, ", which is not part of the job"));
  }
  Rank& rank = ranks_[static_cast<std::size_t>(from)];
  rank.last_heard = now;
  auto message = parse_rank_message(text);
  if (!message) return fail(cat("message from rank ", from, " does not parse: ", message.error()));
  return take(from, rank, std::move(*message), out);
}

Status Coordinator::take(int from, Rank& rank, RankMessage message, std::vector<Outgoing>& out) {
  if (auto* hello = std::get_if<HelloMessage>(&message)) {
    if (rank.joined) return fail(cat("rank ", from, " said hello twice"));
    if (hello->plan != settings_.plan || hello->work_count != ledger_.count()) {
      return fail(cat("rank ", from, " was started for another census (",
                      describe_work(hello->plan, hello->work_count), ") than rank 0 (",
                      describe_work(settings_.plan, ledger_.count()), ")"));
    }
    if (hello->workers == 0) return fail(cat("rank ", from, " has no worker threads"));
    rank.joined = true;
    rank.workers = hello->workers;
    workers_ += hello->workers;
    ++joined_;
    hand_out(from, rank, out);
    return {};
  }
  if (std::holds_alternative<MoreMessage>(message)) {
    if (!rank.joined) return fail(cat("rank ", from, " asked for candidates before its hello"));
    hand_out(from, rank, out);
    return {};
  }
  if (auto* done = std::get_if<DoneMessage>(&message)) {
    if (rank.held.empty()) {
      return fail(cat("rank ", from, " sent outcomes without holding a chunk"));
    }
    if (auto taken = take_outcomes(from, rank.held.front(), std::move(*done)); !taken) {
      return taken;
    }
    rank.held.pop_front();
    ++results_received_;
    return {};
  }
  if (std::holds_alternative<StopMessage>(message)) {
    if (!stopping_) stop(out);
    return {};
  }
  if (auto* failure = std::get_if<FailMessage>(&message)) {
    return fail(cat("rank ", from, ": ", failure->text));
  }
  return {};  // a heartbeat: its arrival is all it says
}

// The outcomes must lie in the rank's oldest chunk, each once (the ledger
// refuses a second outcome for a position, and a cover that does not cover,
// so that no output ever holds one from another process);
// all of the chunk's outcomes must come unless the job is stopping. The
// whole message is checked before any of it is recorded.
Status Coordinator::take_outcomes(int from, const Chunk& chunk, DoneMessage done) {
  const std::uint64_t end = chunk.begin + chunk.count;
  for (const PositionedOutcome& o : done.outcomes) {
    if (o.position < chunk.begin || o.position >= end) {
      return fail(cat("rank ", from, " sent an outcome for candidate ", o.position,
                      ", outside its chunk ", chunk.begin, " to ", end - 1));
    }
  }
  if (done.outcomes.size() > chunk.count || (done.outcomes.size() < chunk.count && !stopping_)) {
    return fail(cat("rank ", from, " returned ", done.outcomes.size(),
                    " outcomes for its chunk of ", chunk.count, " candidates"));
  }
  for (PositionedOutcome& o : done.outcomes) {
    if (durations_ != nullptr) {
      (*durations_)[o.position] = static_cast<double>(o.microseconds) / 1e6;
    }
    if (auto recorded = ledger_.record(o.position, std::move(o.outcome)); !recorded) {
      return fail(cat("rank ", from, ": ", recorded.error()));
    }
  }
  return {};
}

// A rank that asks while work is left gets the next chunk; otherwise the
// request lapses, and the rank finishes what it holds and waits for the end
// of the job. Until every rank has said hello, the ranks not yet heard from
// are counted with as many threads as the asking one, so that the first
// ranks to start do not take the lion's share.
void Coordinator::hand_out(int to, Rank& rank, std::vector<Outgoing>& out) {
  if (stopping_ || cursor_ >= ledger_.count()) return;
  const std::uint64_t assumed_workers =
      workers_ + static_cast<std::uint64_t>(ranks_.size() - joined_) * rank.workers;
  const std::uint64_t size = chunk_size(ledger_.count() - cursor_, assumed_workers, rank.workers,
                                        settings_.max_chunk_per_worker);
  rank.held.push_back({cursor_, size});
  out.push_back({to, render_coordinator_message(ChunkMessage{cursor_, size})});
  cursor_ += size;
}

Status Coordinator::check_liveness(Clock::time_point now) const {
  for (std::size_t r = 0; r < ranks_.size(); ++r) {
    const Rank& rank = ranks_[r];
    if ((rank.joined && rank.held.empty()) || now - rank.last_heard <= settings_.rank_timeout) {
      continue;
    }
    const std::string silent = seconds_of(settings_.rank_timeout);
    if (!rank.joined) {
      return fail(cat("rank ", r, " has not said hello within ", silent, "; it is taken for dead"));
    }
    const Chunk& oldest = rank.held.front();
    return fail(cat("rank ", r, " has sent nothing for ", silent, " while deciding candidates ",
                    oldest.begin, " to ", oldest.begin + oldest.count - 1,
                    "; it is taken for dead"));
  }
  return {};
}

void Coordinator::stop(std::vector<Outgoing>& out) {
  stopping_ = true;
  for (std::size_t r = 0; r < ranks_.size(); ++r) {
    if (!ranks_[r].held.empty()) {
      out.push_back({static_cast<int>(r), render_coordinator_message(HaltMessage{})});
    }
  }
}

bool Coordinator::settled() const {
  if (joined_ != ranks_.size()) return false;
  for (const Rank& rank : ranks_) {
    if (!rank.held.empty()) return false;
  }
  return stopping_ || ledger_.complete();
}

std::vector<Outgoing> Coordinator::end(int status) const {
  std::vector<Outgoing> texts;
  for (std::size_t r = 0; r < ranks_.size(); ++r) {
    texts.push_back({static_cast<int>(r), render_coordinator_message(EndMessage{status})});
  }
  return texts;
}

Result<DriveEnd> serve_exploration(MessageLink& link, Coordinator& coordinator,
                                   const ExplorationLedger& ledger, const DriveHooks& hooks) {
  auto last_look = Clock::now();
  CheckpointPacer pacer(hooks.checkpoint_interval, last_look);
  const auto save = [&]() -> Status {
    if (!hooks.save_checkpoint) return {};
    const auto began = Clock::now();
    Status saved = hooks.save_checkpoint(ledger.tally());
    pacer.saved(began, Clock::now());
    return saved;
  };
  // The first failure is the one reported; the tally is saved on the way.
  const auto failed = [&](Error error) {
    (void)save();
    return error;
  };

  std::vector<Outgoing> out;
  PollBackoff backoff;
  bool stop_saved = false;
  for (;;) {
    auto received = link.receive();
    if (!received) return failed(std::move(received).take_error());
    const auto now = Clock::now();
    const bool arrived = received->has_value();
    // Looked at before the message is handled: a chunk that comes back
    // short because this process's searches were abandoned was sent after
    // the stop was asked for, so the job is stopping when it is taken.
    if (!coordinator.stopping() && hooks.stop_requested && hooks.stop_requested()) {
      coordinator.stop(out);
    }
    if (arrived) {
      backoff.reset();
      const Envelope& envelope = **received;
      if (auto handled = coordinator.handle(envelope.from, envelope.text, now, out); !handled) {
        return failed(std::move(handled).take_error());
      }
    }
    for (Outgoing& o : out) {
      if (auto sent = link.send(o.to, std::move(o.text)); !sent) {
        return failed(std::move(sent).take_error());
      }
    }
    out.clear();
    if (coordinator.stopping() && !stop_saved) {
      stop_saved = true;
      if (auto saved = save(); !saved) return std::move(saved).take_error();
    }
    if (coordinator.settled()) break;
    if (now - last_look >= kLookInterval) {
      last_look = now;
      if (hooks.progress != nullptr) {
        hooks.progress->found(ledger.tally().found.size());
        hooks.progress->advanced(ledger.next());
      }
      if (auto alive = coordinator.check_liveness(now); !alive) {
        return failed(std::move(alive).take_error());
      }
      if (!coordinator.stopping() && pacer.due(now)) {
        if (auto saved = save(); !saved) return std::move(saved).take_error();
      }
    }
    if (!arrived) backoff.sleep();
  }
  if (hooks.progress != nullptr) {
    hooks.progress->found(ledger.tally().found.size());
    hooks.progress->advanced(ledger.next());
  }
  return ledger.complete() ? DriveEnd::Complete : DriveEnd::Stopped;
}

}  // namespace tilvane
