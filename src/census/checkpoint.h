// The checkpoint of a census exploration: the plan, the program version and
// the tally of the decided prefix of the work list, as a line-oriented text
// that ends with a checksum of everything before it. A run resumes from its
// checkpoint only when the checkpoint is intact and belongs to the same
// plan, work list and program version.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "census/exploration.h"

namespace tilvane {

struct Checkpoint {
  std::string program_version;
  ExplorationPlan plan;
  std::uint64_t work_count = 0;
  ExplorationTally tally;
  // Wall time the earlier runs spent, in milliseconds.
  std::uint64_t elapsed_ms = 0;
  friend bool operator==(const Checkpoint&, const Checkpoint&) = default;
};

std::string render_checkpoint(const Checkpoint& checkpoint);
// The same with tally and elapsed_ms in place of the checkpoint's own: a run
// saves its progress without copying the millions of sets it may hold.
std::string render_checkpoint(const Checkpoint& checkpoint, const ExplorationTally& tally,
                              std::uint64_t elapsed_ms);

// Reads a checkpoint text. Fails with "checkpoint is damaged: {what}" for a
// text that is cut short, altered or not a checkpoint at all.
Result<Checkpoint> parse_checkpoint(std::string_view text);

// Fails with "checkpoint belongs to another run: {what}" unless the
// checkpoint was written by this version for this plan and work list.
Status check_checkpoint_matches(const Checkpoint& checkpoint, std::string_view program_version,
                                const ExplorationPlan& plan, std::uint64_t work_count);

}  // namespace tilvane
