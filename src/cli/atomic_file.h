// Writing results so that a reader sees the old content or the whole new
// one, never a part: the text goes to a temporary file beside the target,
// is flushed to the disk, and then takes the target's name.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"

namespace tilvane {

// Replaces the file at path with text; the new file keeps the old one's
// mode, and its owner and group where this user may set them. Fails with "cannot write {quoted
// shown}: {system's description}" (shown: path when empty) and leaves no
// temporary file behind.
Status write_file_atomically(std::string_view path, std::string_view text,
                             std::string_view shown = {});

// The same for a text too long to hold at once: it is appended piece by
// piece to the temporary file, which takes the name at commit. A writer
// dropped before commit removes its temporary file.
class AtomicFileWriter {
 public:
  static Result<AtomicFileWriter> open(std::string_view path, std::string_view shown = {});
  AtomicFileWriter(AtomicFileWriter&& other) noexcept;
  AtomicFileWriter& operator=(AtomicFileWriter&&) = delete;
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter();

  Status append(std::string_view text);
  // Appends the whole content of the file at path.
  Status append_file(const std::string& path);
  Status commit();

 private:
  AtomicFileWriter(std::string path, std::string shown, std::string temporary, int fd)
      : path_(std::move(path)),
        shown_(std::move(shown)),
        temporary_(std::move(temporary)),
        fd_(fd) {}
  std::string path_;
  std::string shown_;
  std::string temporary_;
  int fd_ = -1;
};

// Replaces the folder at path with one holding exactly the given files
// (name, text). The new folder is built beside it under a temporary name
// and swapped in; an existing folder at path is removed afterwards.
Status write_folder_atomically(std::string_view path,
                               const std::vector<std::pair<std::string, std::string>>& files);

// Removes the file at path; a file that is not there is no failure.
Status remove_file(std::string_view path);

}  // namespace tilvane
