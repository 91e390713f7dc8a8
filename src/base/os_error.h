// How the program describes an operating-system error in its messages.
#pragma once

#include <string>

namespace tilvane {

// "{the system's message} (os error {number})", for example
// "No such file or directory (os error 2)".
std::string os_error_description(int error_number);

}  // namespace tilvane
