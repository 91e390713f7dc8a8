// The census modes that run on the calling thread: every size up to 5 or 6,
// and the common-multiple census for k = 7 and k = 8. Each writes its report
// lines to out and returns success, or returns the first error text. Each
// tells progress how many candidates it has decided, one stage per size, and
// finishes the stage before it writes to out or returns.
//
// The modes are composed of the building blocks declared after them, which
// take the candidates, the expected lists or the fixture text as arguments so
// that every check can also be exercised with other data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/census_progress.h"
#include "census/census_table.h"

namespace tilvane {

// "--verify-small-census" (max_size 5) and "--verify-k6-census" (max_size 6).
Status verify_census(std::size_t max_size, std::uint64_t max_nodes, std::ostream& out,
                     CensusProgress& progress = no_progress());
// "--verify-k7-census".
Status verify_k7_census(std::uint64_t max_nodes, std::ostream& out,
                        CensusProgress& progress = no_progress());
// "--verify-k8-census".
Status verify_k8_census(std::uint64_t max_nodes, std::ostream& out,
                        CensusProgress& progress = no_progress());

// ---- Building blocks ----

// The irreducible sets the small census expects at size k (1 to 6): none up
// to 4, 2 3 4 6 12 at 5, four sets at 6.
ModuliSetList small_census_expected_sets(std::size_t k);

// The fifteen sets the k=7 census expects.
ModuliSetList k7_census_expected_sets();

// The small census with the expected list of size k at expected_by_size[k - 1]
// (sizes beyond the span expect nothing). Prints one census line per size as
// it goes, so lines of finished sizes stay when a later size fails.
Status verify_census_against(std::size_t max_size, std::uint64_t max_nodes,
                             std::span<const ModuliSetList> expected_by_size, std::ostream& out,
                             CensusProgress& progress = no_progress());

// The k=7 census over the given candidates against the given expected list;
// the candidate count is the number of candidates given.
Status verify_k7_census_of(ModuliSetList candidates, std::span<const ModuliSet> expected,
                           std::uint64_t max_nodes, std::ostream& out,
                           CensusProgress& progress = no_progress());

// The k=8 census with the given fixture text in place of the embedded one.
Status verify_k8_census_with(std::string_view fixture_text, std::uint64_t max_nodes,
                             std::ostream& out, CensusProgress& progress = no_progress());

// Decides the given candidates in order on the calling thread and checks the
// outcome with fixture_census_report against the expected list and the
// census's figures;
// writes the report only when every check has passed.
Status verify_fixture_census_of(const CensusSize& census, ModuliSetList candidates,
                                std::span<const ModuliSet> expected, std::uint64_t max_nodes,
                                std::ostream& out, CensusProgress& progress = no_progress());

}  // namespace tilvane
