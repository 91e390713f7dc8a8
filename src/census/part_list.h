// The list of one part of a census run, and the merge of every part's list
// into the whole run's. A part's list holds its irreducible covering sets
// in fixture form between a header that names the part (so that it is
// never taken for the whole list) and a checksum of everything before it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "census/exploration.h"

namespace tilvane {

struct PartList {
  std::string program_version;
  ExplorationPlan plan;           // plan.part of plan.parts
  std::uint64_t whole_count = 0;  // the positions of the whole work list
  ExplorationTally tally;         // found sets without their residues
  std::uint64_t elapsed_ms = 0;   // wall time of the part's runs
  std::string source;             // the file it was read from, for messages (or empty)
};

// The text of a part's list; the tally must be complete for the part.
std::string render_part_list(const PartList& list);

// Reads a part's list. Fails with "not a part list: {what}" for a text that
// is not one, and "part list is damaged: {what}" for one cut short or
// altered.
Result<PartList> parse_part_list(std::string_view text);

// The whole run, made of its parts: every part of the same run (program
// version, plan and work list), each exactly once, each complete. The
// parts may come in any order; the result's plan is the whole's (part 1 of
// 1) and its tally what a single run gathers.
Result<PartList> merge_part_lists(std::span<PartList> parts);

}  // namespace tilvane
