// The census modes for k = 9, 10 and 11, which decide their candidates on the
// process-wide worker pool. Only the full program has them.
#pragma once

#include <cstdint>
#include <ostream>

#include "engine/result.h"

namespace tilvane {

Status verify_k9_census(std::uint64_t max_nodes, std::ostream& out);
Status verify_k10_census(std::uint64_t max_nodes, std::ostream& out);
Status verify_k11_census(std::uint64_t max_nodes, std::ostream& out);

}  // namespace tilvane
