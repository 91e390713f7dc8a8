// The worker pool: every index handed out exactly once, idle workers taking
// over what a busy one has not started, the CPU count of the affinity mask,
// and a refused thread start reported as an error.
#include "census/worker_pool.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace tilvane {
namespace {

std::unique_ptr<WorkerPool> started_pool(std::size_t workers) {
  auto pool = WorkerPool::start(workers);
  EXPECT_TRUE(pool.ok()) << pool.error();
  return std::move(pool).value();
}

TEST(WorkerPool, EveryIndexRunsExactlyOnceJobAfterJob) {
  struct Case {
    std::size_t workers;
    std::size_t count;
  };
  const std::vector<Case> cases = {{1, 0}, {1, 1},  {1, 1000},   {3, 1},
                                   {3, 7}, {4, 64}, {4, 100000}, {8, 3}};
  for (const Case& c : cases) {
    auto pool = started_pool(c.workers);
    ASSERT_EQ(pool->worker_count(), c.workers);
    for (int job = 0; job < 3; ++job) {
      std::vector<std::atomic<int>> calls(c.count);
      pool->for_each_index(c.count, [&](std::size_t i) { calls[i].fetch_add(1); });
      for (std::size_t i = 0; i < c.count; ++i) {
        ASSERT_EQ(calls[i].load(), 1) << c.workers << " workers, index " << i << " of " << c.count;
      }
    }
  }
}

TEST(WorkerPool, AskingForNoWorkersStartsOne) {
  auto pool = started_pool(0);
  EXPECT_EQ(pool->worker_count(), 1u);
  std::atomic<std::size_t> sum{0};
  pool->for_each_index(10, [&](std::size_t i) { sum += i; });
  EXPECT_EQ(sum.load(), 45u);
}

// Index 0 holds its worker until every index from 50 on has been done: with
// an equal split of the indices between the two workers, the second half
// would wait for the first and the test would time out.
TEST(WorkerPool, IdleWorkersTakeOverWhatABusyWorkerHasNotStarted) {
  auto pool = started_pool(2);
  const std::size_t count = 100;
  std::atomic<std::size_t> late_done{0};
  std::atomic<bool> waited_in_vain{false};
  pool->for_each_index(count, [&](std::size_t i) {
    if (i == 0) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (late_done.load() < count - 50) {
        if (std::chrono::steady_clock::now() > deadline) {
          waited_in_vain = true;
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } else if (i >= 50) {
      late_done.fetch_add(1);
    }
  });
  EXPECT_FALSE(waited_in_vain.load());
  EXPECT_EQ(late_done.load(), count - 50);
}

TEST(WorkerPool, CallersFromSeveralThreadsEachGetTheirWholeJob) {
  auto pool = started_pool(3);
  std::vector<std::vector<std::atomic<int>>> calls;
  for (int t = 0; t < 4; ++t) calls.emplace_back(5000);
  std::vector<std::thread> callers;
  for (std::size_t t = 0; t < calls.size(); ++t) {
    callers.emplace_back([&, t] {
      pool->for_each_index(calls[t].size(), [&](std::size_t i) { calls[t][i].fetch_add(1); });
    });
  }
  for (std::thread& c : callers) c.join();
  for (auto& job : calls) {
    for (auto& n : job) ASSERT_EQ(n.load(), 1);
  }
}

TEST(WorkerPool, RefusedThreadIsAnErrorAndTheStartedOnesAreJoined) {
  int started = 0;
  const WorkerPool::ThreadStarter refuse_third = [&](std::function<void()> body) {
    if (++started == 3) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    return std::thread(std::move(body));
  };
  auto pool = WorkerPool::start(8, refuse_third);
  ASSERT_FALSE(pool.ok());
  EXPECT_EQ(pool.error(),
            "cannot start census worker threads: Resource temporarily unavailable (os error 11)");
  EXPECT_EQ(started, 3);
}

// sched_setaffinity(0, ...) restricts only the calling thread, and a thread
// asks for its own mask, so a helper thread pinned to one CPU must count one
// whatever the machine has.
TEST(AvailableCpus, CountsTheAffinityMaskNotTheMachine) {
  cpu_set_t all;
  CPU_ZERO(&all);
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  EXPECT_EQ(available_cpu_count(), static_cast<std::size_t>(CPU_COUNT(&all)));

  int first = 0;
  while (!CPU_ISSET(first, &all)) ++first;
  std::size_t pinned_count = 0;
  std::thread pinned([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    if (sched_setaffinity(0, sizeof one, &one) == 0) pinned_count = available_cpu_count();
  });
  pinned.join();
  EXPECT_EQ(pinned_count, 1u);
}

TEST(SharedWorkerPool, IsStartedOnceWithOneWorkerPerAvailableCpu) {
  auto first = shared_worker_pool();
  ASSERT_TRUE(first.ok()) << first.error();
  auto second = shared_worker_pool();
  ASSERT_TRUE(second.ok());
  EXPECT_EQ(*first, *second);
  EXPECT_EQ((*first)->worker_count(), available_cpu_count());
}

}  // namespace
}  // namespace tilvane
