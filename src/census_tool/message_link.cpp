#include "census_tool/message_link.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/text_format.h"

namespace tilvane {

class LocalHub::Link : public MessageLink {
 public:
  // box: this party's mailbox (a computing rank's number, or the last one
  // for the coordinator).
  Link(LocalHub& hub, std::size_t box, bool coordinator)
      : hub_(hub), box_(box), coordinator_(coordinator) {}

  Status send(int to, std::string text) override {
    const std::size_t target = coordinator_ ? static_cast<std::size_t>(to) : hub_.boxes_.size() - 1;
    if (coordinator_ && (to < 0 || target + 1 >= hub_.boxes_.size())) {
      return fail(cat("message for computing rank ", to, ", which does not exist"));
    }
    hub_.post(target, Envelope{coordinator_ ? -1 : static_cast<int>(box_), std::move(text)});
    return {};
  }
  Result<std::optional<Envelope>> receive() override { return hub_.take(box_); }

 private:
  LocalHub& hub_;
  std::size_t box_;
  bool coordinator_;
};

LocalHub::LocalHub(std::size_t ranks) : boxes_(ranks + 1) {
  coordinator_ = std::make_unique<Link>(*this, ranks, true);
  for (std::size_t r = 0; r < ranks; ++r) ranks_.push_back(std::make_unique<Link>(*this, r, false));
}

void LocalHub::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

void LocalHub::post(std::size_t box, Envelope envelope) {
  std::lock_guard lock(mutex_);
  boxes_[box].texts.push_back(std::move(envelope));
}

Result<std::optional<Envelope>> LocalHub::take(std::size_t box) {
  std::lock_guard lock(mutex_);
  if (closed_ && box + 1 < boxes_.size()) return fail("the coordinator has closed the link");
  std::deque<Envelope>& texts = boxes_[box].texts;
  if (texts.empty()) return std::optional<Envelope>();
  std::optional<Envelope> next(std::move(texts.front()));
  texts.pop_front();
  return next;
}

std::chrono::microseconds PollBackoff::next() {
  const std::chrono::microseconds pause(sleep_us_);
  sleep_us_ = std::min(sleep_us_ * 2, kLongestSleepUs);
  return pause;
}

void PollBackoff::sleep() { std::this_thread::sleep_for(next()); }

}  // namespace tilvane
