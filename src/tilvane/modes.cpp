#include "tilvane/modes.h"

#include "base/text_format.h"
#include "census/sequential_census.h"
#if !TILVANE_REDUCED
#include "census/parallel_census.h"
#endif

namespace tilvane {

const CensusSize* find_census_mode(std::string_view name) { return census_of_option(name); }

// The small census runs every size up to its own; a census without a fixture
// carries its expected list as constant data (k = 7); the fixture censuses
// run on the calling thread or on the worker pool as the table says.
Status run_census_mode(const CensusSize& census, std::uint64_t max_nodes, std::ostream& out,
                       CensusProgress& progress) {
  if (census.space.kind == SpaceKind::Subsets) {
    return verify_census(census.space.k, max_nodes, out, progress);
  }
  if (census.fixture_file.empty()) return verify_k7_census(max_nodes, out, progress);
#if !TILVANE_REDUCED
  if (census.parallel) {
    return run_parallel_census(standard_parallel_census(census.space.k), max_nodes, out,
                               progress);
  }
#endif
  return verify_k8_census(max_nodes, out, progress);
}

std::string usage_text(std::string_view program) {
  std::string text = cat("usage: ", program, " <candidate.txt> [--max-nodes N]\n");
  for (const CensusSize& census : census_table()) {
    text += cat("or: ", program, " ", census.option, " [--max-nodes N]\n");
  }
  text += "candidate format: first token k, followed by exactly k pairs 'modulus residue'";
  return text;
}

}  // namespace tilvane
