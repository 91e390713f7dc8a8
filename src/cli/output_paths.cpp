#include "cli/output_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "base/os_error.h"
#include "base/quoted.h"
#include "base/text_format.h"
#include "cli/atomic_file.h"

namespace tilvane {
namespace {

namespace fs = std::filesystem;

// The mark of a folder this program wrote: a file of this name and text.
constexpr std::string_view kMarkName = ".tilvane-census";
constexpr std::string_view kMarkText =
    "This folder was written by tilvane-census, which replaces it as a whole when run again.\n";

Error cannot_write(std::string_view given, int error_number) {
  return fail(
      cat("cannot write ", tilvane::quoted(given), ": ", os_error_description(error_number)));
}

std::string_view kind_of(fs::file_type type) {
  switch (type) {
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::character:
    case fs::file_type::block:
      return "a device";
    case fs::file_type::socket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

// The path a chain of symbolic links ends at (path itself when it is not a
// link); the end may not exist yet.
Result<fs::path> follow_links(std::string_view option, const std::string& given) {
  fs::path at = given;
  for (int hops = 0;; ++hops) {
    std::error_code ec;
    if (fs::symlink_status(at, ec).type() != fs::file_type::symlink) return at;
    if (hops == 40)
      return fail(cat(option, " ", tilvane::quoted(given), ": too many symbolic links"));
    const fs::path next = fs::read_symlink(at, ec);
    if (ec) return cannot_write(given, ec.value());
    at = next.is_absolute() ? next : at.parent_path() / next;
  }
}

// Proves that the folder of path takes a new entry by creating the
// temporary entry the write will use (a file, or a folder), and removing it.
Status prove_writable(const std::string& given, const fs::path& path, bool folder) {
  const std::string temporary = cat(path.string(), ".partial-", static_cast<long>(::getpid()));
  if (folder) {
    if (::mkdir(temporary.c_str(), 0755) != 0) return cannot_write(given, errno);
    ::rmdir(temporary.c_str());
    return {};
  }
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return cannot_write(given, errno);
  ::close(fd);
  ::unlink(temporary.c_str());
  return {};
}

// A certificate's name: moduli joined by '-', then ".txt".
bool is_certificate_name(std::string_view name) {
  if (!name.ends_with(".txt") || name.size() == 4) return false;
  name.remove_suffix(4);
  for (char c : name) {
    if ((c < '0' || c > '9') && c != '-') return false;
  }
  return true;
}

// Why a folder is not one this program wrote: it lacks the mark, or holds
// something it does not write (named in quoted form); nothing when it is
// one (the mark, and nothing but regular files of the names it writes).
std::optional<std::string> not_ours(const fs::path& folder) {
  std::error_code ec;
  bool marked = false;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const bool regular = it->symlink_status(ec).type() == fs::file_type::regular;
    if (regular && name == kMarkName) {
      std::error_code size_ec;
      marked = fs::file_size(it->path(), size_ec) == kMarkText.size();
    } else if (!regular || !is_certificate_name(name)) {
      return cat("holds ", tilvane::quoted(name), ", which tilvane-census did not write");
    }
  }
  if (ec) return cat("cannot be read: ", os_error_description(ec.value()));
  if (!marked) return cat("is a folder without the mark ", kMarkName, " of tilvane-census");
  return std::nullopt;
}

}  // namespace

Result<OutputFile> OutputFile::prepare(std::string_view option, std::string given) {
  auto target = follow_links(option, given);
  if (!target) return std::move(target).take_error();
  std::error_code ec;
  const fs::file_type type = fs::symlink_status(*target, ec).type();
  if (type != fs::file_type::not_found && type != fs::file_type::regular) {
    return fail(cat(option, " ", tilvane::quoted(given), " is ", kind_of(type),
                    "; it must be a regular file or a new name"));
  }
  // A file that is also a standard stream of this process (through
  // /dev/stdout, say) would lose whatever the stream writes after the file
  // is replaced.
  struct stat file {};
  if (type == fs::file_type::regular && ::stat(target->c_str(), &file) == 0) {
    for (int fd = 0; fd <= 2; ++fd) {
      struct stat stream {};
      if (::fstat(fd, &stream) == 0 && stream.st_dev == file.st_dev &&
          stream.st_ino == file.st_ino) {
        return fail(cat(option, " ", tilvane::quoted(given),
                        " is a standard stream of this program; give a file name"));
      }
    }
  }
  if (type == fs::file_type::regular) {
    // Replacing the file by renaming a new one over it would succeed in a
    // folder this user may write even where the file itself is not theirs
    // to change; a careful tool refuses what the user could not overwrite.
    if (::access(target->c_str(), W_OK) != 0) return cannot_write(given, errno);
    // A file with other names (hard links) would be parted from them: they
    // would keep the old content while this name got the new.
    if (::stat(target->c_str(), &file) == 0 && file.st_nlink > 1) {
      return fail(cat(option, " ", tilvane::quoted(given), " has ", file.st_nlink - 1,
                      file.st_nlink == 2 ? " other name" : " other names",
                      " (hard links), which would keep the old content; give a file with one "
                      "name, or a new name"));
    }
  }
  if (auto proved = prove_writable(given, *target, false); !proved) {
    return std::move(proved).take_error();
  }
  return OutputFile(std::move(given), target->string());
}

Status OutputFile::write(std::string_view text) const {
  return write_file_atomically(target_, text, given_);
}

Status OutputFile::remove() const {
  std::error_code ec;
  if (fs::symlink_status(target_, ec).type() != fs::file_type::regular) return {};
  return remove_file(target_);
}

Result<OutputFolder> OutputFolder::prepare(std::string_view option, std::string given) {
  std::error_code ec;
  const fs::path path = given;
  const fs::file_type type = fs::symlink_status(path, ec).type();
  if (type == fs::file_type::directory) {
    if (auto why = not_ours(path)) {
      return fail(cat(option, " ", tilvane::quoted(given), " ", *why,
                      "; it replaces only a folder that it wrote: give a new name"));
    }
  }
  if (type != fs::file_type::not_found && type != fs::file_type::directory) {
    return fail(cat(option, " ", tilvane::quoted(given), " is ",
                    type == fs::file_type::symlink   ? "a symbolic link"
                    : type == fs::file_type::regular ? "a file"
                                                     : kind_of(type),
                    "; it must be a new name or a folder that tilvane-census wrote"));
  }
  if (auto proved = prove_writable(given, path, true); !proved) {
    return std::move(proved).take_error();
  }
  return OutputFolder(std::move(given));
}

Status OutputFolder::write(std::vector<std::pair<std::string, std::string>> files) const {
  files.emplace_back(std::string(kMarkName), std::string(kMarkText));
  return write_folder_atomically(given_, files);
}

Status check_distinct_outputs(std::span<const NamedOutput> outputs) {
  std::vector<fs::path> resolved;
  for (const NamedOutput& output : outputs) {
    std::error_code ec;
    fs::path path = fs::weakly_canonical(fs::absolute(output.path, ec), ec);
    resolved.push_back(ec ? fs::path(output.path) : path);
  }
  // One path equal to another, or inside it (a file in a folder output is
  // lost when the folder is replaced).
  const auto within = [](const fs::path& inner, const fs::path& outer) {
    const std::string a = inner.string();
    const std::string b = outer.string();
    return a == b || (a.size() > b.size() && a.starts_with(b) && a[b.size()] == '/');
  };
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = 0; j < outputs.size(); ++j) {
      const bool written = outputs[i].written || outputs[j].written;
      if (i != j && written && within(resolved[i], resolved[j])) {
        return fail(cat(outputs[i].option, " ", tilvane::quoted(outputs[i].path),
                        resolved[i] == resolved[j] ? " is the same path as " : " lies inside ",
                        outputs[j].option, " ", tilvane::quoted(outputs[j].path)));
      }
    }
  }
  return {};
}

}  // namespace tilvane
