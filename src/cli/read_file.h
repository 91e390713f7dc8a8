// Reading a whole text file by path.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace tilvane {

// The whole content of the file at path (relative paths against the current
// directory), which must be strict UTF-8. The error text describes why not:
// an operating-system error as "{message} (os error {number})", or "stream
// did not contain valid UTF-8". The file is closed in every case.
Result<std::string> read_text_file(std::string_view path);

}  // namespace tilvane
