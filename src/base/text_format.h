// Building message texts: decimal numbers without grouping, texts appended
// unchanged, and the bracket form of a moduli set ("[2, 3, 4, 6, 12]").
#pragma once

#include <charconv>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/uint128.h"

namespace tilvane {

// Appends the decimal digits of an unsigned 128-bit value.
void append_decimal(std::string& out, u128 value);

namespace detail {
inline void append_piece(std::string& out, std::string_view text) { out += text; }
inline void append_piece(std::string& out, const char* text) { out += text; }
inline void append_piece(std::string& out, const std::string& text) { out += text; }
inline void append_piece(std::string& out, char c) { out += c; }
template <class N>
requires(std::is_integral_v<N> && !std::is_same_v<N, char> &&
         !std::is_same_v<N, bool>) void append_piece(std::string& out, N value) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  out.append(buffer, end);
}
inline void append_piece(std::string& out, u128 value) { append_decimal(out, value); }
}  // namespace detail

// Concatenates texts and numbers: cat("period ", 12) == "period 12".
template <class... Pieces>
std::string cat(const Pieces&... pieces) {
  std::string out;
  (detail::append_piece(out, pieces), ...);
  return out;
}

// A floating value in decimal with a fixed number of places ("%.*f"):
// decimal_places(1072.84, 1) == "1072.8". For figures that are measured, such as
// times and rates, never for exact results.
std::string decimal_places(double value, int places);

// A floating value to some significant digits ("%.*g"): 0.0642, 1.87e+03.
std::string significant_digits(double value, int digits);

// "1st", "2nd", "3rd", "4th", "11th", "12th", "13th", "21st", "5502nd".
std::string ordinal(std::uint64_t n);

// "[2, 3, 4, 6, 12]"; an empty set is "[]".
std::string render_set(std::span<const std::uint64_t> moduli);

}  // namespace tilvane
