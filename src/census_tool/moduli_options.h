// The command-line pieces of the moduli-set actions of tilvane-census:
// reading a moduli list, and the checks that tie --moduli, --moduli-file,
// --divisors-of, --min-modulus, --least-lcm and --proof together.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "census_tool/options.h"

namespace tilvane {

// Whole numbers of at least 2, separated by white space or commas, at least
// one, all distinct (in the order given).
Result<std::vector<std::uint64_t>> parse_moduli_list(std::string_view text);

// Settles the action when a moduli option was given and refuses the
// combinations that make no sense; the explore options are left alone
// otherwise.
Status check_moduli_action(CensusOptions& o, bool size_seen, bool lcm_seen);

// The divisors of l that are at least m, ascending.
std::vector<std::uint64_t> divisors_at_least(std::uint64_t l, std::uint64_t m);

}  // namespace tilvane
