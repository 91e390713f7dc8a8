// The expected-set fixtures: their text format and parser. The number of sets
// each must hold and the names of their files are in the census table.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/census_table.h"

namespace tilvane {

// Reads a fixture text: one set of k strictly increasing unsigned decimal
// moduli per line, blank lines skipped, white space (and CR before LF)
// tolerated, the lines in strictly increasing lexicographic order. Fails with
// the first bad token, bad line or ordering fault in text order.
Result<ModuliSetList> parse_expected_sets(std::string_view text, std::size_t k);

// parse_expected_sets followed by check_fixture_count: the first step of a
// fixture census, given the fixture text (normally the embedded one).
Result<ModuliSetList> load_expected_sets(std::string_view text, const CensusSize& census);

}  // namespace tilvane
