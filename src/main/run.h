// The program's command line: argument grammar, the node budget, mode
// dispatch, and the turning of an outcome into output and exit status.
#pragma once

#include <ostream>
#include <span>
#include <string_view>

#include "engine/result.h"

namespace tilvane {

// Runs one mode for the argument list (element 0 the program name) and
// returns its outcome unchanged; report lines go to out.
Status run(std::span<const std::string_view> args, std::ostream& out);

// What main does: runs, prints "FAIL: {}" on standard error on failure, and
// returns the exit status.
int main_entry(int argc, char** argv);

}  // namespace tilvane
