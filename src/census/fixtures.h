// The expected-set fixtures: their text format and parser, the number of sets
// each must hold, the names of their files, and the fixed extrema lines that
// the census for k = 6 to 11 prints once its aggregate matches.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/moduli_set_list.h"
#include "base/result.h"

namespace tilvane {

// Reads a fixture text: one set of k strictly increasing unsigned decimal
// moduli per line, blank lines skipped, white space (and CR before LF)
// tolerated, the lines in strictly increasing lexicographic order. Fails with
// the first bad token, bad line or ordering fault in text order.
Result<ModuliSetList> parse_expected_sets(std::string_view text, std::size_t k);

// The number of sets the fixture for k must hold: 65, 318, 2102 or 17040 for
// k = 8 to 11; 0 for any other k.
std::size_t expected_fixture_count(std::size_t k);

// Fails with "expected k={k} fixture has {parsed_count} sets, not {count}"
// when parsed_count differs from expected_fixture_count(k).
Status check_fixture_count(std::size_t k, std::size_t parsed_count);

// parse_expected_sets followed by check_fixture_count: the first step of the
// census for k = 8 to 11, given the fixture text (normally the embedded one).
Result<ModuliSetList> load_expected_sets(std::string_view text, std::size_t k);

// "fixtures/k{k}_expected.txt" for k = 8 to 11; empty for any other k.
std::string_view fixture_file_name(std::size_t k);

// The fixed extrema line for k = 6 to 11, including its final line feed, e.g.
// "k=8 extrema: minimum largest modulus=36; maximum largest modulus=96;
// maximum reciprocal sum=14/9\n". Empty for any other k, and for k = 9 to 11
// in the reduced build.
std::string_view extrema_line(std::size_t k);

}  // namespace tilvane
