// The candidate check: reading and validating a candidate file, and having
// the engine confirm that it is an irreducible covering system.
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "engine/congruence.h"

namespace tilvane {

// The largest number of congruences a candidate may hold.
inline constexpr std::uint64_t kCandidateLimit = 128;

// Reads the tokens of a candidate (valid UTF-8 text): k, then k rows
// "modulus residue", then nothing. Stops at the first fault and names it;
// on success the congruences are in file order with moduli at least 2,
// canonical residues and strictly increasing moduli.
Result<std::vector<Congruence>> parse_candidate(std::string_view text);

// Reads the file at path, parses it, has the engine check the congruences
// (check_congruences, one shared budget of max_nodes search nodes) and writes
// the PASS line to out. On failure nothing is written.
Status check_candidate(std::string_view path, std::uint64_t max_nodes, std::ostream& out);

}  // namespace tilvane
