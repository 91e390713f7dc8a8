// The checkpoint of a split moduli decision: which run it belongs to (the
// lines the driver renders from the set, the options, the budget and the
// frontier), the wall time spent so far, and each finished subproblem's
// outcome and counts, as a line-oriented text that ends with a checksum of
// everything before it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "engine/moduli_decision.h"

namespace tilvane {

struct SubproblemRecord {
  std::uint64_t index = 0;
  // NoCovering, Covering or Undecided, with its counts; residues when
  // Covering.
  ModuliDecision decision;
};

struct ModuliCheckpoint {
  std::string run;  // lines, each ended by a line feed
  std::uint64_t elapsed_ms = 0;
  std::vector<SubproblemRecord> done;
};

std::string render_moduli_checkpoint(const ModuliCheckpoint& checkpoint);

// An outcome as one word ("covering", "refuted", "undecided", "stopped"),
// and back.
std::string_view outcome_word(ModuliOutcome outcome);
std::optional<ModuliOutcome> outcome_of_word(std::string_view word);

// One finished subproblem as its checkpoint line ("done ...", no line
// feed), which a cluster run also sends from rank to rank, and back.
std::string render_subproblem_record(const SubproblemRecord& record);
Result<SubproblemRecord> parse_subproblem_record(std::string_view line);

// Fails with "checkpoint is damaged: {what}" for a text cut short, altered
// or not such a checkpoint.
Result<ModuliCheckpoint> parse_moduli_checkpoint(std::string_view text);

}  // namespace tilvane
