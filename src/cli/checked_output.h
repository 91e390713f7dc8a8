// Report output whose every write is checked: a stream buffer over a file
// descriptor that remembers why the first write failed.
#pragma once

#include <streambuf>
#include <string>
#include <string_view>

namespace tilvane {

// Writes everything put into it to the file descriptor, a line at a time:
// whatever is pending goes out at each line feed and at every flush. The
// first failed write is kept as its error number, what was pending is
// dropped, and every later write fails too, so the stream using this buffer
// turns bad and stays bad.
class CheckedOutputBuffer : public std::streambuf {
 public:
  explicit CheckedOutputBuffer(int fd) : fd_(fd) {}
  CheckedOutputBuffer(const CheckedOutputBuffer&) = delete;
  CheckedOutputBuffer& operator=(const CheckedOutputBuffer&) = delete;

  // 0 while every write has succeeded; otherwise the error number of the
  // first write that failed.
  int error_number() const { return error_number_; }

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  bool write_pending();

  int fd_;
  int error_number_ = 0;
  std::string pending_;
};

// Writes all of text to the file descriptor, retrying after interruptions and
// short writes. Returns 0, or the error number of the failed write.
int write_all(int fd, std::string_view text);

}  // namespace tilvane
