// Property checks inside fuzz targets. A failed property prints what failed
// and aborts, so libFuzzer keeps the input as a crash and the replay program
// stops with a failure.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tilvane::fuzz {

[[noreturn]] inline void property_failed(const char* condition, const std::string& detail,
                                         const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n%s\n", file, line, condition, detail.c_str());
  std::abort();
}

}  // namespace tilvane::fuzz

// Checks condition; detail (any expression giving a std::string) is only
// evaluated when the condition fails.
#define FUZZ_REQUIRE(condition, detail)                                           \
  do {                                                                            \
    if (!(condition)) {                                                           \
      ::tilvane::fuzz::property_failed(#condition, (detail), __FILE__, __LINE__); \
    }                                                                             \
  } while (0)
