#include "base/rendering.h"

#include "base/text_format.h"

namespace tilvane {

std::string render_set_list(std::span<const ModuliSet> sets) {
  std::string out = "[";
  for (std::size_t i = 0; i < sets.size(); ++i) {
    if (i != 0) out += ", ";
    out += render_set(sets[i]);
  }
  out += ']';
  return out;
}

std::string render_optional(const std::optional<std::uint64_t>& value) {
  return value ? cat("Some(", *value, ")") : std::string("None");
}

std::string render_fraction(const Fraction& fraction) {
  return cat("(", fraction.numerator, ", ", fraction.denominator, ")");
}

}  // namespace tilvane
