// Collecting the decisions of a census in candidate order: the first error
// text ends the census, node counts are summed with an overflow check, and
// the candidates decided irreducible move to the found list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/census_progress.h"
#include "engine/irreducibility.h"

namespace tilvane {

// What a census has gathered so far: the sets found, in candidate order, and
// the node total.
struct CensusTally {
  ModuliSetList found;
  std::uint64_t nodes = 0;
};

// Takes the decisions one candidate at a time, in candidate order. The
// sequential census feeds it as it decides; the parallel census feeds it from
// its result slots once every candidate is decided.
class CensusScan {
 public:
  // node_overflow_message: the mode's text for a node total beyond 64 bits,
  // e.g. "k=8 census node counter overflow".
  explicit CensusScan(std::string node_overflow_message)
      : node_overflow_message_(std::move(node_overflow_message)) {}

  // Takes the decision for candidate: an error text is returned unchanged;
  // otherwise its nodes are added to the total (the mode's overflow message
  // when the sum overflows) and, if irreducible, candidate is moved to the end
  // of the found list.
  Status take(const Result<IrreducibleDecision>& decision, ModuliSet& candidate);

  const CensusTally& tally() const { return tally_; }
  // The node total so far.
  std::uint64_t nodes() const { return tally_.nodes; }
  // The sets found so far, in candidate order.
  const ModuliSetList& found() const { return tally_.found; }
  // Hands over the found sets and starts a new, empty found list; the node
  // total carries on.
  ModuliSetList take_found() { return std::exchange(tally_.found, {}); }

 private:
  std::string node_overflow_message_;
  CensusTally tally_;
};

// Decides every candidate in order on the calling thread, each search with the
// full max_nodes, feeding the decisions to scan. Stops at the first error
// text. Candidates found irreducible are moved out of the list. The whole
// call is one progress stage named stage_label, told the number decided
// every few dozen candidates and finished before the call returns.
Status decide_all_sequential(ModuliSetList& candidates, std::uint64_t max_nodes, CensusScan& scan,
                             std::string_view stage_label,
                             CensusProgress& progress = no_progress());

}  // namespace tilvane
