// The coordinator of a cluster run. It owns the order of the work list:
// it hands the open positions out in chunks to the computing ranks as they
// ask, records what comes back in the ledger, and knows when the job is over.
// It never decides a candidate itself. The coordinator is a plain state
// machine over messages (see chunk_messages.h), driven by serve_exploration
// on one thread; it does not know how the messages travel.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "census/exploration.h"
#include "census/exploration_driver.h"
#include "census_tool/chunk_messages.h"
#include "census_tool/message_link.h"

namespace tilvane {

// The size of the next chunk for a rank with rank_workers threads, when
// unassigned positions are left and all_workers threads take part in the
// job: a quarter of the rank's even share of what is left, at least 1 and at
// most max_per_worker per thread. Chunks are large at first, so that a rank
// asks rarely, and shrink to single candidates near the end, so that a few
// slow candidates do not leave the other ranks idle.
std::uint64_t chunk_size(std::uint64_t unassigned, std::uint64_t all_workers,
                         std::uint64_t rank_workers, std::uint64_t max_per_worker);

struct CoordinatorSettings {
  ExplorationPlan plan;   // every rank must have been started for it
  std::size_t ranks = 1;  // computing ranks 0 to ranks - 1
  std::chrono::milliseconds rank_timeout{120000};
  std::uint64_t max_chunk_per_worker = 1024;
};

// A text for one computing rank.
struct Outgoing {
  int to = 0;
  std::string text;
};

class Coordinator {
 public:
  using Clock = std::chrono::steady_clock;

  // ledger: the work list's decided prefix; positions from ledger.next() on
  // are handed out. durations, when set, receives each candidate's seconds
  // by position.
  Coordinator(const CoordinatorSettings& settings, ExplorationLedger& ledger,
              std::vector<double>* durations, Clock::time_point now);

  // Takes one message from computing rank from; the replies are appended to
  // out. A message that does not parse, does not fit the rank's state or
  // carries a result the ledger refuses is an error naming the rank; so is a
  // failure the rank reports.
  Status handle(int from, std::string_view text, Clock::time_point now, std::vector<Outgoing>& out);

  // Fails naming the first rank that owes the coordinator a message (its
  // hello, or the outcomes of a chunk it holds) and has sent nothing at all
  // for longer than the rank timeout.
  Status check_liveness(Clock::time_point now) const;

  // No further chunk is handed out; every rank holding a chunk is told to
  // halt and to send what it has.
  void stop(std::vector<Outgoing>& out);
  bool stopping() const { return stopping_; }

  // Every rank has said hello and holds no chunk, and either every candidate
  // is decided or the job is stopping: no further outcome can arrive.
  bool settled() const;

  // The texts that end the job with status, one for every rank.
  std::vector<Outgoing> end(int status) const;

  // The worker threads of every rank that said hello.
  std::uint64_t workers() const { return workers_; }
  // The outcome messages handled so far.
  std::uint64_t results_received() const { return results_received_; }

 private:
  struct Chunk {
    std::uint64_t begin = 0;
    std::uint64_t count = 0;
  };
  struct Rank {
    bool joined = false;
    std::uint64_t workers = 0;
    std::deque<Chunk> held;  // the chunks handed out and not yet returned, oldest first
    Clock::time_point last_heard;
  };

  Status take(int from, Rank& rank, RankMessage message, std::vector<Outgoing>& out);
  Status take_outcomes(int from, const Chunk& chunk, DoneMessage done);
  void hand_out(int to, Rank& rank, std::vector<Outgoing>& out);

  CoordinatorSettings settings_;
  ExplorationLedger& ledger_;
  std::vector<double>* durations_;
  std::vector<Rank> ranks_;
  std::uint64_t cursor_;  // the first position not handed out
  std::uint64_t workers_ = 0;
  std::size_t joined_ = 0;
  std::uint64_t results_received_ = 0;
  bool stopping_ = false;
};

// Runs the coordinator over a link until it is settled: texts are taken as
// they arrive and the replies sent; a few times a second the progress is
// shown, the stop hook polled and the ranks' liveness checked, and every
// checkpoint interval the tally is saved. When the job starts to stop (the
// hook, or a rank that was told to stop), the tally is saved at once, since
// a launcher may kill every process within a second of its own stop signal;
// the caller saves it again once every rank has sent what it has. Any
// failure saves the tally before it is returned: a rerun resumes from there,
// and nothing before it is decided twice.
Result<DriveEnd> serve_exploration(MessageLink& link, Coordinator& coordinator,
                                   const ExplorationLedger& ledger, const DriveHooks& hooks);

}  // namespace tilvane
