#include "census/worker_pool.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <system_error>
#include <utility>

#include "base/text_format.h"

namespace tilvane {
namespace {

// Chunks never hold more indices than this, so that no worker sits on a long
// run of expensive tasks while others have nothing left to do.
constexpr std::size_t largest_chunk = 16;

std::thread start_std_thread(std::function<void()> body) { return std::thread(std::move(body)); }

}  // namespace

// The affinity mask is read with a set large enough for any CPU number the
// kernel may report: the kernel refuses (EINVAL) a mask smaller than its own,
// so the size doubles until the call succeeds. Without a mask at all the
// count falls back to what the standard library reports.
std::size_t available_cpu_count() {
  for (int cpus = 1024; cpus <= (1 << 20); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (set == nullptr) break;
    const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
    CPU_ZERO_S(bytes, set);
    const int rc = sched_getaffinity(0, bytes, set);
    const int count = rc == 0 ? CPU_COUNT_S(bytes, set) : 0;
    CPU_FREE(set);
    if (rc == 0) return count > 0 ? static_cast<std::size_t>(count) : 1;
    if (errno != EINVAL) break;
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

Result<std::unique_ptr<WorkerPool>> WorkerPool::start(std::size_t workers) {
  return start(workers, start_std_thread);
}

Result<std::unique_ptr<WorkerPool>> WorkerPool::start(std::size_t workers,
                                                      const ThreadStarter& starter) {
  std::unique_ptr<WorkerPool> pool(new WorkerPool());
  const std::size_t wanted = std::max<std::size_t>(workers, 1);
  pool->threads_.reserve(wanted);
  try {
    for (std::size_t i = 0; i < wanted; ++i) {
      WorkerPool* self = pool.get();
      pool->threads_.push_back(starter([self] { self->work(); }));
    }
  } catch (const std::system_error& e) {
    pool->stop_and_join();
    return fail(cat("cannot start census worker threads: ", e.code().message(), " (os error ",
                    e.code().value(), ")"));
  }
  return pool;
}

WorkerPool::~WorkerPool() { stop_and_join(); }

void WorkerPool::stop_and_join() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
  threads_.clear();
}

void WorkerPool::for_each_index(std::size_t count, const std::function<void(std::size_t)>& task) {
  for_each_index(count, task, std::chrono::milliseconds::zero(), {});
}

// The caller publishes the job under the pool's lock, wakes every worker and
// sleeps until the last worker has run out of indices. Each worker takes part
// in every job exactly once, so counting them down tells when all task calls
// have returned; the lock hand-over at the end makes everything the tasks
// wrote visible to the caller. With a while_waiting call the caller wakes
// every interval and drops the pool's lock for the call, so that no worker
// finishing its share waits on it; a notification that arrives during the
// call is not lost, since the count is looked at before the caller sleeps
// again.
void WorkerPool::for_each_index(std::size_t count, const std::function<void(std::size_t)>& task,
                                std::chrono::milliseconds interval,
                                const std::function<void()>& while_waiting,
                                const std::atomic<bool>* halt) {
  if (count == 0) return;
  std::lock_guard order(job_order_);
  Job job;
  job.count = count;
  job.task = &task;
  job.halt = halt;
  std::unique_lock lock(mutex_);
  job_ = &job;
  busy_ = threads_.size();
  ++generation_;
  wake_.notify_all();
  const auto all_returned = [this] { return busy_ == 0; };
  if (while_waiting && interval > std::chrono::milliseconds::zero()) {
    while (!finished_.wait_for(lock, interval, all_returned)) {
      lock.unlock();
      while_waiting();
      lock.lock();
    }
  } else {
    finished_.wait(lock, all_returned);
  }
  job_ = nullptr;
}

void WorkerPool::work() {
  std::uint64_t seen = 0;
  for (;;) {
    Job* job = nullptr;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      job = job_;
    }
    run_chunks(*job);
    std::lock_guard lock(mutex_);
    if (--busy_ == 0) finished_.notify_one();
  }
}

// Idle workers take the next chunk from a shared cursor. A chunk is a quarter
// of an even share of what is left, at most largest_chunk indices, so the
// chunks shrink to single indices near the end and the last expensive tasks
// are spread over all workers instead of queueing behind one.
void WorkerPool::run_chunks(Job& job) const {
  const std::size_t workers = threads_.size();
  for (;;) {
    const std::size_t seen = job.cursor.load(std::memory_order_relaxed);
    if (seen >= job.count) return;
    const std::size_t chunk =
        std::clamp<std::size_t>((job.count - seen) / (4 * workers), 1, largest_chunk);
    const std::size_t begin = job.cursor.fetch_add(chunk, std::memory_order_relaxed);
    if (begin >= job.count) return;
    const std::size_t end = std::min(job.count, begin + chunk);
    for (std::size_t i = begin; i < end; ++i) {
      if (job.halt != nullptr && job.halt->load(std::memory_order_relaxed)) return;
      (*job.task)(i);
    }
  }
}

Result<WorkerPool*> shared_worker_pool() {
  static std::mutex creation;
  static std::unique_ptr<WorkerPool> pool;
  std::lock_guard lock(creation);
  if (!pool) {
    auto started = WorkerPool::start(available_cpu_count());
    if (!started) return std::move(started).take_error();
    pool = std::move(started).value();
  }
  return pool.get();
}

double process_cpu_seconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace tilvane
