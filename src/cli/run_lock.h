// An advisory lock that keeps two runs from writing the same checkpoint or
// output at once: a file PATH.lock beside it, held with flock(2) for the
// life of the run and removed at its end. The lock goes with the process
// (a run killed with SIGKILL leaves a file that the next run takes over),
// and the file names the holder, so the second run can say who it is.
#pragma once

#include <string>

#include "base/result.h"

namespace tilvane {

class RunLock {
 public:
  // Takes the lock for path (the file PATH.lock) at once, or fails: when
  // another process holds it, with a message naming that process (its pid
  // and host); when PATH.lock is a file this program did not write, without
  // touching it.
  static Result<RunLock> take(const std::string& path);

  RunLock(RunLock&& other) noexcept;
  RunLock& operator=(RunLock&& other) noexcept;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  // Removes the file and lets go of the lock.
  ~RunLock();

 private:
  RunLock(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  std::string path_;
  int fd_ = -1;
};

}  // namespace tilvane
