#include "cli/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "base/os_error.h"
#include "base/text_scan.h"

namespace tilvane {
namespace {

// Closes the descriptor when the read ends, however it ends.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

constexpr std::size_t kFirstChunk = 8192;

// Reads until end of file into one buffer. The size that fstat reports for a
// regular file sizes the buffer in one step (plus one byte, so that reaching
// the end needs no second allocation); other files grow it by doubling, so
// the total copying stays linear in the file's size.
Result<std::string> read_all(int fd) {
  std::size_t capacity = kFirstChunk;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    capacity = static_cast<std::size_t>(info.st_size) + 1;
  }
  std::string data;
  std::size_t used = 0;
  try {
    data.resize(capacity);
    for (;;) {
      if (used == data.size()) data.resize(data.size() * 2);
      const ssize_t got = ::read(fd, data.data() + used, data.size() - used);
      if (got < 0) {
        if (errno == EINTR) continue;
        return fail(os_error_description(errno));
      }
      if (got == 0) break;
      used += static_cast<std::size_t>(got);
    }
  } catch (const std::bad_alloc&) {
    return fail(os_error_description(ENOMEM));
  }
  data.resize(used);
  return data;
}

}  // namespace

Result<std::string> read_text_file(std::string_view path) {
  // A path holding a NUL cannot name any file; handing it to the system would
  // quietly open a shorter path.
  if (path.find('\0') != std::string_view::npos) {
    return fail("path contains a NUL character");
  }
  const std::string path_text(path);
  int fd = -1;
  do {
    fd = ::open(path_text.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(os_error_description(errno));
  const FileDescriptor file(fd);

  auto data = read_all(file.get());
  if (!data) return data;
  if (!is_valid_utf8(*data)) return fail("stream did not contain valid UTF-8");
  return data;
}

}  // namespace tilvane
