#include "census/sample_list.h"

#include "base/checksum.h"
#include "base/text_format.h"
#include "census/plan_lines.h"

namespace tilvane {

// The lines are those of a part's list where they say the same thing, so
// that one reader's eye (or grep) finds them in either.
std::string render_sample_list(std::string_view program_version, const ExplorationPlan& plan,
                               std::uint64_t space_candidates, const ExplorationTally& tally) {
  std::string text =
      cat(kSampleListStart, ": the irreducible covering sets among every ", ordinal(plan.sample),
          " candidate only (", tally.decided, " of ", space_candidates, "); not a census\n");
  text += cat(render_plan_lines("# ", program_version, plan, false), "# decided ", tally.decided,
              "\n# found ", tally.found.size(), "\n");
  for (const FoundSet& set : tally.found) text += render_set_line(set.moduli);
  text += cat("# checksum ", checksum_hex(text), "\n");
  return text;
}

}  // namespace tilvane
