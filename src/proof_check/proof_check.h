// The checker of refutation traces: it replays a trace that a moduli search
// wrote and confirms, step by step, that the moduli set has no covering,
// without trusting (or sharing any code with) the search. It keeps only the
// classes the branch decisions assigned and recomputes from them which
// residues are still uncovered; every pruning step is recounted from that
// alone. The format is told in the header of the search's trace writer and
// again, as the checker reads it, in proof_check.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tilvane {

struct ProofCheck {
  bool verified = false;
  // VERIFIED with what was confirmed, or the first bad step: "line N: why".
  std::string message;
  std::uint64_t traces = 0;   // sets refuted by a trace
  std::uint64_t density = 0;  // sets settled by their reciprocal sum
  std::uint64_t subsets = 0;  // sets settled as subsets of refuted ones
  std::uint64_t steps = 0;    // node lines replayed
};

ProofCheck check_refutation_file(std::string_view text);

}  // namespace tilvane
