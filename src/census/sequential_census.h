// The census modes that run on the calling thread: every size up to 5 or 6,
// and the common-multiple census for k = 7 and k = 8. Each writes its report
// lines to out and returns success, or returns the first error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "engine/result.h"

namespace tilvane {

Status verify_census(std::size_t max_size, std::uint64_t max_nodes, std::ostream& out);
Status verify_k7_census(std::uint64_t max_nodes, std::ostream& out);
Status verify_k8_census(std::uint64_t max_nodes, std::ostream& out);

}  // namespace tilvane
