// The congruence record x ≡ residue (mod modulus). Inside the engine the
// modulus is at least 2 and the residue canonical (below the modulus).
#pragma once

#include <cstdint>

namespace tilvane {

struct Congruence {
  std::uint64_t modulus = 0;
  std::uint64_t residue = 0;
  friend bool operator==(const Congruence&, const Congruence&) = default;
};

}  // namespace tilvane
