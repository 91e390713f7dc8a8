// The process-wide pool of worker threads on which the census for k = 9 to 11
// decides its candidates, and the count of CPUs the process may run on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/result.h"

namespace tilvane {

// The number of CPUs in this process's affinity mask, at least 1: the CPUs
// the process may actually run on, which taskset, cgroups or a container may
// restrict below the number the machine has.
std::size_t available_cpu_count();

// The CPU time all threads of this process have used, in seconds: a clock
// that other processes on the machine do not move.
double process_cpu_seconds();

// A fixed set of worker threads that run one job at a time. A job is a count
// and a task; every index of the count is handed to the task exactly once,
// on some worker, and the caller waits until all of them have returned.
class WorkerPool {
 public:
  // Starts one thread for a given function; throws std::system_error when
  // the system refuses, as std::thread does.
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;

  // Starts max(workers, 1) threads. If the system refuses one, the threads
  // already started are stopped and joined and an error text is returned.
  static Result<std::unique_ptr<WorkerPool>> start(std::size_t workers);
  static Result<std::unique_ptr<WorkerPool>> start(std::size_t workers,
                                                   const ThreadStarter& starter);

  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  // Stops and joins every worker; no job may be running.
  ~WorkerPool();

  std::size_t worker_count() const { return threads_.size(); }

  // Calls task(i) once for every i in [0, count) on the workers and returns
  // when every call has returned. Calls for different indices may run at the
  // same time, so the task must only write what belongs to its index. Jobs
  // from several callers run one after another.
  void for_each_index(std::size_t count, const std::function<void(std::size_t)>& task);
  // The same, and while the calls run the calling thread, which would only
  // wait, calls while_waiting about once every interval (not at all when the
  // job ends sooner). The workers never wait for while_waiting. Once halt
  // (when given) reads true, no further index is handed out and the job
  // ends as soon as the calls running return, however many indices are
  // left.
  void for_each_index(std::size_t count, const std::function<void(std::size_t)>& task,
                      std::chrono::milliseconds interval,
                      const std::function<void()>& while_waiting,
                      const std::atomic<bool>* halt = nullptr);

 private:
  struct Job {
    std::size_t count = 0;
    const std::function<void(std::size_t)>* task = nullptr;
    std::atomic<std::size_t> cursor{0};
    const std::atomic<bool>* halt = nullptr;
  };

  WorkerPool() = default;
  void stop_and_join();
  void work();
  void run_chunks(Job& job) const;

  std::vector<std::thread> threads_;
  std::mutex job_order_;  // held by the caller for the whole of one job
  std::mutex mutex_;      // guards the fields below
  std::condition_variable wake_;
  std::condition_variable finished_;
  Job* job_ = nullptr;
  std::uint64_t generation_ = 0;
  std::size_t busy_ = 0;
  bool stopping_ = false;
};

// The pool of the process: started on first use with one worker per CPU of
// available_cpu_count(), and kept until the process ends. When the threads
// cannot be started, the error text is returned and a later call tries again.
Result<WorkerPool*> shared_worker_pool();

}  // namespace tilvane
