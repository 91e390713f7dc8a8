#include "cli/checked_output.h"

#include <unistd.h>

#include <cerrno>

namespace tilvane {

int write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A write that accepts nothing of a non-empty text would never finish.
    if (written == 0) return EIO;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// The buffer keeps no put area, so every character reaches overflow or
// xsputn; the report is a handful of lines, so the virtual calls cost nothing
// worth saving, and a line feed can be seen the moment it arrives.
CheckedOutputBuffer::int_type CheckedOutputBuffer::overflow(int_type ch) {
  if (error_number_ != 0) return traits_type::eof();
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  const char c = traits_type::to_char_type(ch);
  pending_ += c;
  if (c == '\n' && !write_pending()) return traits_type::eof();
  return ch;
}

std::streamsize CheckedOutputBuffer::xsputn(const char* text, std::streamsize count) {
  if (error_number_ != 0 || count <= 0) return 0;
  const std::string_view piece(text, static_cast<std::size_t>(count));
  pending_ += piece;
  if (piece.find('\n') != std::string_view::npos && !write_pending()) return 0;
  return count;
}

int CheckedOutputBuffer::sync() { return write_pending() ? 0 : -1; }

bool CheckedOutputBuffer::write_pending() {
  if (error_number_ != 0) return false;
  error_number_ = write_all(fd_, pending_);
  pending_.clear();
  return error_number_ == 0;
}

}  // namespace tilvane
