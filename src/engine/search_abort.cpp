#include "engine/search_abort.h"

#include <cstdio>
#include <cstdlib>

namespace tilvane {

void search_abort(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  std::fflush(stderr);
  std::abort();
}

}  // namespace tilvane
