#include "base/text_format.h"

#include <algorithm>
#include <cstdio>

namespace tilvane {

void append_decimal(std::string& out, u128 value) {
  char digits[40];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  } while (value != 0);
  std::reverse(digits, digits + count);
  out.append(digits, static_cast<std::size_t>(count));
}

std::string render_set(std::span<const std::uint64_t> moduli) {
  std::string out = "[";
  for (std::size_t i = 0; i < moduli.size(); ++i) {
    if (i != 0) out += ", ";
    detail::append_piece(out, moduli[i]);
  }
  out += ']';
  return out;
}

std::string decimal_places(double value, int places) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", places, value);
  return buffer;
}

std::string significant_digits(double value, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

std::string ordinal(std::uint64_t n) {
  const std::uint64_t tens = n % 100;
  const std::uint64_t units = n % 10;
  const char* suffix = tens >= 11 && tens <= 13 ? "th"
                       : units == 1             ? "st"
                       : units == 2             ? "nd"
                       : units == 3             ? "rd"
                                                : "th";
  return cat(n, suffix);
}

}  // namespace tilvane
