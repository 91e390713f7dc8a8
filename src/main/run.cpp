#include "main/run.h"

#include <cstdio>
#include <iostream>
#include <vector>

namespace tilvane {

Status run(std::span<const std::string_view>, std::ostream&) { return fail("not built yet"); }

int main_entry(int argc, char** argv) {
  std::vector<std::string_view> args(argv, argv + argc);
  Status status = run(args, std::cout);
  std::cout.flush();
  if (!status) {
    std::fprintf(stderr, "FAIL: %s\n", status.error().c_str());
    return 1;
  }
  return 0;
}

}  // namespace tilvane
