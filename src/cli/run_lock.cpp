#include "cli/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "base/os_error.h"
#include "base/quoted.h"
#include "base/text_format.h"
#include "cli/checked_output.h"

namespace tilvane {
namespace {

// Every lock file starts with this, so that a file of the same name that
// this program did not write is never taken over.
constexpr std::string_view kHeader = "tilvane-census run lock: ";

std::string read_small(int fd) {
  char buffer[256];
  const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string host_name() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "an unknown host";
  return name;
}

Error foreign(const std::string& lock_path) {
  return fail(cat(quoted(lock_path),
                  " is not a lock file of tilvane-census; it was left alone: remove or rename it"));
}

}  // namespace

// The file is opened (created if new), locked without waiting, and then
// checked to be still the file at the path: a run that ends removes its
// file, and a run that opened the old file just before would otherwise hold
// a lock nobody else can see. It then says who holds it.
Result<RunLock> RunLock::take(const std::string& path) {
  const std::string lock_path = path + ".lock";
  for (int attempt = 0; attempt < 8; ++attempt) {
    bool created = true;
    int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
      created = false;
      fd = ::open(lock_path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
      return fail(cat("cannot write ", quoted(lock_path), ": ", os_error_description(errno)));
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      ::close(fd);
      return foreign(lock_path);
    }
    const auto busy = [&](std::string holder) {
      ::close(fd);
      holder = holder.starts_with(kHeader) ? holder.substr(kHeader.size()) : "";
      while (!holder.empty() && holder.back() == '\n') holder.pop_back();
      return fail(cat("another run (", holder.empty() ? std::string("just starting") : holder,
                      ") is writing ", quoted(path), "; it holds ", quoted(lock_path),
                      ": wait for it or stop it"));
    };
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error_number = errno;
      if (error_number == EWOULDBLOCK) return busy(read_small(fd));
      ::close(fd);
      return fail(cat("cannot lock ", quoted(lock_path), ": ", os_error_description(error_number)));
    }
    struct stat named {};
    if (::stat(lock_path.c_str(), &named) != 0 || named.st_ino != opened.st_ino ||
        named.st_dev != opened.st_dev) {
      ::close(fd);  // removed or replaced by the run that held it: again
      continue;
    }
    // Unlocked, so no run is using it: a file left by a run that was killed
    // is taken over, anything else is left alone. An empty one was created
    // by a run an instant ago that has not locked it yet.
    if (!created) {
      const std::string held = read_small(fd);
      if (held.empty()) return busy(held);
      if (!held.starts_with(kHeader)) {
        ::close(fd);
        return foreign(lock_path);
      }
    }
    const std::string text =
        cat(kHeader, "pid ", static_cast<long>(::getpid()), " on ", host_name(), "\n");
    if (::ftruncate(fd, 0) != 0 || write_all(fd, text) != 0) {
      const int error_number = errno;
      ::close(fd);
      return fail(
          cat("cannot write ", quoted(lock_path), ": ", os_error_description(error_number)));
    }
    return RunLock(lock_path, fd);
  }
  return fail(cat("cannot lock ", quoted(lock_path), ": it keeps changing"));
}

RunLock::RunLock(RunLock&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
  if (this != &other) {
    this->~RunLock();
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

RunLock::~RunLock() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
}

}  // namespace tilvane
