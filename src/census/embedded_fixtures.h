// The expected-set fixtures, compiled into the program as constant text. The
// program never opens a fixture file.
#pragma once

#include <cstddef>
#include <string_view>

namespace tilvane {

// The text of fixtures/k{k}_expected.txt as it stood at build time; empty
// for a size whose fixture is not part of this build.
std::string_view embedded_fixture_text(std::size_t k);

}  // namespace tilvane
