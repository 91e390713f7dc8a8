#include "base/os_error.h"

#include <cstring>

#include "base/text_format.h"

namespace tilvane {

std::string os_error_description(int error_number) {
  // The GNU strerror_r returns the message, which may or may not live in the
  // buffer given; either way it is not shared with other threads.
  char buffer[256];
  const char* message = strerror_r(error_number, buffer, sizeof buffer);
  return cat(message, " (os error ", error_number, ")");
}

}  // namespace tilvane
