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

// Replaces the folder at path with one holding exactly the given files
// (name, text). The new folder is built beside it under a temporary name
// and swapped in; an existing folder at path is removed afterwards.
Status write_folder_atomically(std::string_view path,
                               const std::vector<std::pair<std::string, std::string>>& files);

// Removes the file at path; a file that is not there is no failure.
Status remove_file(std::string_view path);

}  // namespace tilvane
