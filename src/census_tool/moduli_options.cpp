#include "census_tool/moduli_options.h"

#include <algorithm>

#include "base/quoted.h"
#include "base/text_format.h"
#include "base/text_scan.h"

namespace tilvane {

Result<std::vector<std::uint64_t>> parse_moduli_list(std::string_view text) {
  std::vector<std::uint64_t> moduli;
  const auto separator = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',';
  };
  std::size_t i = 0;
  while (i < text.size()) {
    if (separator(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !separator(text[end])) ++end;
    const std::string_view token = text.substr(i, end - i);
    const auto value = parse_unsigned_decimal(token);
    if (!value || *value < 2) {
      return fail(cat("a modulus must be a whole number of at least 2, not ", quoted(token)));
    }
    if (std::find(moduli.begin(), moduli.end(), *value) != moduli.end()) {
      return fail(cat("the modulus ", *value, " appears twice"));
    }
    moduli.push_back(*value);
    i = end;
  }
  if (moduli.empty()) return fail("no moduli given");
  return moduli;
}

Status check_moduli_action(CensusOptions& o, bool size_seen, bool lcm_seen) {
  using Action = CensusOptions::Action;
  const int sources = (o.moduli.empty() ? 0 : 1) + (o.moduli_file.empty() ? 0 : 1) +
                      (o.divisors_of == 0 ? 0 : 1) + (o.action == Action::LeastLcm ? 1 : 0);
  if (sources == 0) {
    if (o.min_modulus != 0) return fail("--min-modulus belongs to --divisors-of or --least-lcm");
    if (!o.proof.empty()) return fail("--proof belongs to a moduli set or --least-lcm");
    return {};
  }
  if (sources > 1) {
    return fail("--moduli, --moduli-file, --divisors-of and --least-lcm exclude each other");
  }
  if (o.action == Action::Estimate || o.action == Action::Merge) {
    return fail("a moduli set is decided on its own: no --estimate or --merge");
  }
  if (o.action == Action::Explore) o.action = Action::Moduli;
  const bool needs_min = o.divisors_of != 0 || o.action == Action::LeastLcm;
  if (needs_min && o.min_modulus == 0) {
    return fail(cat(o.divisors_of != 0 ? "--divisors-of" : "--least-lcm", " needs --min-modulus"));
  }
  if (!needs_min && o.min_modulus != 0) {
    return fail("--min-modulus belongs to --divisors-of or --least-lcm");
  }
  if (o.min_modulus == 1) return fail("--min-modulus must be at least 2");
  if (size_seen) return fail("a moduli set takes no --size");
  if (lcm_seen && o.action != Action::LeastLcm) return fail("--max-lcm belongs to --least-lcm");
  if (!o.output.empty() || !o.covers.empty() || o.plan.parts > 1 || o.sample_given) {
    return fail("a moduli set takes no --output, --covers, --part or --every");
  }
  if (!o.checkpoint.empty() && o.action == Action::LeastLcm) {
    return fail("--least-lcm takes no --checkpoint");
  }
  if (o.divisors_of != 0) {
    o.moduli = divisors_at_least(o.divisors_of, o.min_modulus);
    if (o.moduli.empty())
      return fail(cat(o.divisors_of, " has no divisor of at least ", o.min_modulus));
  }
  return {};
}

std::vector<std::uint64_t> divisors_at_least(std::uint64_t l, std::uint64_t m) {
  std::vector<std::uint64_t> divisors;
  for (std::uint64_t d = 1; d <= l / d; ++d) {
    if (l % d != 0) continue;
    if (d >= m) divisors.push_back(d);
    if (l / d != d && l / d >= m) divisors.push_back(l / d);
  }
  std::sort(divisors.begin(), divisors.end());
  return divisors;
}

}  // namespace tilvane
