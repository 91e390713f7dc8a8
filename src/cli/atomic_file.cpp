#include "cli/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/os_error.h"
#include "base/quoted.h"
#include "base/text_format.h"
#include "cli/checked_output.h"

namespace tilvane {
namespace {

Error write_error(std::string_view path, int error_number) {
  return fail(cat("cannot write ", quoted(path), ": ", os_error_description(error_number)));
}

// A temporary name beside path, unique to this process.
std::string temporary_name(std::string_view path) {
  return cat(path, ".partial-", static_cast<long>(::getpid()));
}

// Gives the new file at fd the mode of the file it replaces, and its owner
// and group as far as this user may set them (the group alone when the
// owner cannot be kept; neither for an ordinary user replacing another's
// file, which the checks before the run refuse unless the folder allows it).
void keep_attributes(int fd, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) != 0)
    (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  (void)::fchmod(fd, old.st_mode & 07777);
}

// Writes text to a new file at path, flushed to the disk when durable;
// messages name shown. The file is created as other tools create theirs
// (0666 less the umask), or like old when it replaces a file.
Status write_new_file(const std::string& path, std::string_view text, bool durable,
                      std::string_view shown, const struct stat* old = nullptr) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return write_error(shown, errno);
  if (old != nullptr) keep_attributes(fd, *old);
  int error_number = write_all(fd, text);
  if (error_number == 0 && durable && ::fsync(fd) != 0) error_number = errno;
  if (::close(fd) != 0 && error_number == 0) error_number = errno;
  if (error_number != 0) {
    ::unlink(path.c_str());
    return write_error(shown, error_number);
  }
  return {};
}

}  // namespace

Status write_file_atomically(std::string_view path, std::string_view text, std::string_view shown) {
  if (shown.empty()) shown = path;
  const std::string temporary = temporary_name(path);
  struct stat old {};
  const bool replaces = ::stat(std::string(path).c_str(), &old) == 0 && S_ISREG(old.st_mode);
  if (auto written = write_new_file(temporary, text, true, shown, replaces ? &old : nullptr);
      !written) {
    return written;
  }
  if (::rename(temporary.c_str(), std::string(path).c_str()) != 0) {
    const int error_number = errno;
    ::unlink(temporary.c_str());
    return write_error(shown, error_number);
  }
  return {};
}

Result<AtomicFileWriter> AtomicFileWriter::open(std::string_view path, std::string_view shown) {
  if (shown.empty()) shown = path;
  std::string temporary = temporary_name(path);
  struct stat old {};
  const bool replaces = ::stat(std::string(path).c_str(), &old) == 0 && S_ISREG(old.st_mode);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return write_error(shown, errno);
  if (replaces) keep_attributes(fd, old);
  return AtomicFileWriter(std::string(path), std::string(shown), std::move(temporary), fd);
}

AtomicFileWriter::AtomicFileWriter(AtomicFileWriter&& other) noexcept
    : path_(std::move(other.path_)),
      shown_(std::move(other.shown_)),
      temporary_(std::move(other.temporary_)),
      fd_(std::exchange(other.fd_, -1)) {}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(temporary_.c_str());
  }
}

Status AtomicFileWriter::append(std::string_view text) {
  if (fd_ < 0) return fail(cat("cannot write ", tilvane::quoted(shown_), ": already closed"));
  if (const int error_number = write_all(fd_, text); error_number != 0) {
    return write_error(shown_, error_number);
  }
  return {};
}

Status AtomicFileWriter::append_file(const std::string& path) {
  const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    return fail(cat("cannot read ", tilvane::quoted(path), ": ", os_error_description(errno)));
  }
  std::vector<char> buffer(1 << 16);
  Status status;
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      status = fail(cat("cannot read ", tilvane::quoted(path), ": ", os_error_description(errno)));
      break;
    }
    if (got == 0) break;
    status = append(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    if (!status) break;
  }
  ::close(in);
  return status;
}

Status AtomicFileWriter::commit() {
  if (fd_ < 0) return fail(cat("cannot write ", tilvane::quoted(shown_), ": already closed"));
  int error_number = ::fsync(fd_) != 0 ? errno : 0;
  if (::close(std::exchange(fd_, -1)) != 0 && error_number == 0) error_number = errno;
  if (error_number == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) error_number = errno;
  if (error_number != 0) {
    ::unlink(temporary_.c_str());
    return write_error(shown_, error_number);
  }
  return {};
}

// Directories cannot be renamed over a folder that holds files, so the old
// folder first moves aside; between the two renames the path is briefly
// absent, never partly written.
Status write_folder_atomically(std::string_view path,
                               const std::vector<std::pair<std::string, std::string>>& files) {
  namespace fs = std::filesystem;
  const fs::path target{std::string(path)};
  const fs::path temporary{temporary_name(path)};
  const fs::path old{cat(path, ".old-", static_cast<long>(::getpid()))};
  std::error_code ec;
  fs::remove_all(temporary, ec);
  if (!fs::create_directory(temporary, ec)) {
    return write_error(path, ec ? ec.value() : EEXIST);
  }
  for (const auto& [name, text] : files) {
    if (auto written = write_new_file((temporary / name).string(), text, false, path); !written) {
      fs::remove_all(temporary, ec);
      return written;
    }
  }
  // One flush of the file system for the whole folder, rather than one per
  // file, before it takes the name.
  if (const int dir = ::open(temporary.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    const int flushed = ::syncfs(dir);
    const int error_number = errno;
    ::close(dir);
    if (flushed != 0) {
      fs::remove_all(temporary, ec);
      return write_error(path, error_number);
    }
  }
  const bool had_old = fs::exists(target, ec);
  if (had_old && ::rename(target.c_str(), old.c_str()) != 0) {
    const int error_number = errno;
    fs::remove_all(temporary, ec);
    return write_error(path, error_number);
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error_number = errno;
    if (had_old) (void)::rename(old.c_str(), target.c_str());
    fs::remove_all(temporary, ec);
    return write_error(path, error_number);
  }
  if (had_old) fs::remove_all(old, ec);
  return {};
}

Status remove_file(std::string_view path) {
  if (::unlink(std::string(path).c_str()) != 0 && errno != ENOENT) {
    return fail(cat("cannot remove ", quoted(path), ": ", os_error_description(errno)));
  }
  return {};
}

}  // namespace tilvane
