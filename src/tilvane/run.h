// The program's command line: argument grammar, the node budget, mode
// dispatch, and the turning of an outcome into output and exit status.
#pragma once

#include <ostream>
#include <span>
#include <string_view>

#include "base/result.h"
#include "census/census_progress.h"

namespace tilvane {

// Runs one mode for the argument list (element 0 the program name) and
// returns its outcome unchanged; report lines go to out. Arguments that are
// not strict UTF-8 are refused before anything else is looked at, with
// "argument {n} is not valid UTF-8", n counting from 0 for the program name.
// An empty list shows "tilvane" as the program name in the usage text. A
// census mode tells progress how far it has come; nothing else uses it.
Status run(std::span<const std::string_view> args, std::ostream& out,
           CensusProgress& progress = no_progress());

// What main does: runs with report lines going to standard output, checks
// that every one of them was written, prints "FAIL: {}" on standard error on
// failure, and returns the exit status (0 or 1). When standard error is a
// terminal, a census shows its progress there on one line that is gone again
// before any report line or the FAIL line is written.
int main_entry(int argc, char** argv);

}  // namespace tilvane
