// How the coordinator and the computing ranks of a cluster run reach each
// other: a link sends a text to one party and hands over, without waiting,
// the next text that has arrived for its owner. Between two parties texts
// arrive in the order they were sent. Computing ranks are numbered from 0;
// rank 0's own computing thread is computing rank 0 and talks to the
// coordinator in the same process through a LocalHub, the other ranks
// through the cluster's message passing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace tilvane {

// A text and the party it came from.
struct Envelope {
  int from = 0;
  std::string text;
};

class MessageLink {
 public:
  virtual ~MessageLink() = default;
  // A computing rank's link ignores to: it always sends to the coordinator.
  virtual Status send(int to, std::string text) = 0;
  // The next text for this party, or nothing when none has arrived yet.
  virtual Result<std::optional<Envelope>> receive() = 0;
};

// Links inside one process: one coordinator and computing ranks 0 to
// ranks - 1, each with a mailbox guarded by one lock. Closing the hub makes
// every later receive of a computing rank fail, so that a computing thread
// whose coordinator has given up does not wait for ever.
class LocalHub {
 public:
  explicit LocalHub(std::size_t ranks);
  LocalHub(const LocalHub&) = delete;
  LocalHub& operator=(const LocalHub&) = delete;

  MessageLink& coordinator_link() { return *coordinator_; }
  MessageLink& rank_link(std::size_t rank) { return *ranks_[rank]; }
  void close();

 private:
  class Link;
  struct Box {
    std::deque<Envelope> texts;
  };
  void post(std::size_t box, Envelope envelope);
  Result<std::optional<Envelope>> take(std::size_t box);

  std::mutex mutex_;
  bool closed_ = false;
  std::vector<Box> boxes_;  // ranks 0 to ranks - 1, then the coordinator
  std::unique_ptr<MessageLink> coordinator_;
  std::vector<std::unique_ptr<MessageLink>> ranks_;
};

// The pause between two polls of a link that found nothing: a few tens of
// microseconds at first, doubling to a millisecond while nothing comes, so
// that a waiting party neither spins a core nor adds more than a millisecond
// to a reply. reset() after every text that arrives.
class PollBackoff {
 public:
  void reset() { sleep_us_ = kFirstSleepUs; }
  // The pause due now, for a caller that waits on something else meanwhile;
  // the next one is longer.
  std::chrono::microseconds next();
  // Sleeps for next().
  void sleep();

 private:
  static constexpr long kFirstSleepUs = 20;
  static constexpr long kLongestSleepUs = 1000;
  long sleep_us_ = kFirstSleepUs;
};

}  // namespace tilvane
