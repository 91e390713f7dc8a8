#include "tilvane/modes.h"

#include "base/text_format.h"
#include "census/sequential_census.h"
#if !TILVANE_REDUCED
#include "census/parallel_census.h"
#endif

namespace tilvane {
namespace {

// In the order the usage text lists them.
constexpr CensusMode kCensusModes[] = {
    {"--verify-small-census",
     [](std::uint64_t max_nodes, std::ostream& out, CensusProgress& progress) {
       return verify_census(5, max_nodes, out, progress);
     }},
    {"--verify-k6-census",
     [](std::uint64_t max_nodes, std::ostream& out, CensusProgress& progress) {
       return verify_census(6, max_nodes, out, progress);
     }},
    {"--verify-k7-census", verify_k7_census},
    {"--verify-k8-census", verify_k8_census},
#if !TILVANE_REDUCED
    {"--verify-k9-census", verify_k9_census},
    {"--verify-k10-census", verify_k10_census},
    {"--verify-k11-census", verify_k11_census},
#endif
};

}  // namespace

const CensusMode* find_census_mode(std::string_view name) {
  for (const CensusMode& mode : kCensusModes) {
    if (mode.option == name) return &mode;
  }
  return nullptr;
}

std::string usage_text(std::string_view program) {
  std::string text = cat("usage: ", program, " <candidate.txt> [--max-nodes N]\n");
  for (const CensusMode& mode : kCensusModes) {
    text += cat("or: ", program, " ", mode.option, " [--max-nodes N]\n");
  }
  text += "candidate format: first token k, followed by exactly k pairs 'modulus residue'";
  return text;
}

}  // namespace tilvane
