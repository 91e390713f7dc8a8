// The list of a sampled run (--every N): its irreducible covering sets in
// fixture form between a header that says it is a sample, at what rate and
// of which space (so that it is never taken for a census table, and no
// merge takes it for a part), and a checksum of everything before it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "census/exploration.h"

namespace tilvane {

// The first words of every sample's list.
inline constexpr std::string_view kSampleListStart = "# tilvane-census sample";

// The text of a sample's list: plan.sample > 1, the tally complete for the
// sampled work list, space_candidates the size of the whole space.
std::string render_sample_list(std::string_view program_version, const ExplorationPlan& plan,
                               std::uint64_t space_candidates, const ExplorationTally& tally);

}  // namespace tilvane
