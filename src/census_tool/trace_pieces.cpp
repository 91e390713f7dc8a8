#include "census_tool/trace_pieces.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "base/quoted.h"
#include "base/text_format.h"
#include "cli/atomic_file.h"
#include "cli/checked_output.h"

namespace tilvane {
namespace {

namespace fs = std::filesystem;

// The mark of a folder of trace pieces this program wrote.
constexpr std::string_view kPiecesMark = ".tilvane-trace-pieces";

bool piece_name(std::string_view name) {
  if (name.ends_with(".partial")) name.remove_suffix(8);
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string trace_pieces_folder(const OutputFile& proof) { return proof.target() + ".pieces"; }

std::string piece_path(const std::string& folder, std::size_t index) {
  return cat(folder, "/", index);
}

bool is_trace_pieces_folder(const std::string& path) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(path, ec))) return false;
  bool marked = false;
  for (const auto& entry : fs::directory_iterator(path, ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file(ec)) return false;
    if (name == kPiecesMark) {
      marked = true;
    } else if (!piece_name(name)) {
      return false;
    }
  }
  return marked && !ec;
}

Status fresh_pieces_folder(const std::string& path) {
  std::error_code ec;
  if (is_trace_pieces_folder(path)) fs::remove_all(path, ec);
  if (!fs::create_directory(path, ec)) {
    return fail(cat("cannot make the folder ", tilvane::quoted(path), ": ", ec.message()));
  }
  return write_file_atomically(cat(path, "/", kPiecesMark), "trace pieces of tilvane-census\n");
}

void remove_pieces_folder(const std::string& path) {
  if (!is_trace_pieces_folder(path)) return;
  std::error_code ec;
  fs::remove_all(path, ec);
}

void flush_pieces(const std::string& folder) {
  if (folder.empty()) return;
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    (void)::syncfs(dir);
    ::close(dir);
  }
}

PieceFile::PieceFile(std::string path) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) error_ = errno;
}

PieceFile::~PieceFile() {
  if (fd_ >= 0) ::close(fd_);
}

void PieceFile::line(std::string_view text) {
  buffer_ += text;
  buffer_ += '\n';
  if (buffer_.size() >= (1 << 16)) flush();
}

int PieceFile::close() {
  flush();
  if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  return error_;
}

void PieceFile::flush() {
  if (error_ == 0 && fd_ >= 0) error_ = write_all(fd_, buffer_);
  buffer_.clear();
}

}  // namespace tilvane
