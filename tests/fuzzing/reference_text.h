// Plain reference readings of user text for the fuzz targets: written
// separately from, and more simply than, the program's own scanning, so that
// a target can compare the two on every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tilvane::fuzz {

// One decoded character and the bytes it came from.
struct CodePoint {
  char32_t value;
  std::size_t offset;
  std::size_t length;
};

// Decodes strict UTF-8 by computing each value first and rejecting it
// afterwards if it is overlong, a surrogate or above U+10FFFF. Nothing for
// text that is not strict UTF-8.
inline std::optional<std::vector<CodePoint>> decode_strict_utf8(std::string_view text) {
  std::vector<CodePoint> out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
      length = 1;
      value = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      value = lead & 0x1F;
      smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      value = lead & 0x0F;
      smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      value = lead & 0x07;
      smallest = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (std::size_t j = 1; j < length; ++j) {
      const auto next = static_cast<unsigned char>(text[i + j]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return std::nullopt;
    }
    out.push_back({value, i, length});
    i += length;
  }
  return out;
}

// The Unicode White_Space set, listed out.
inline bool is_reference_white_space(char32_t c) {
  static constexpr char32_t kWhiteSpace[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                             0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                             0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                             0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t w : kWhiteSpace) {
    if (c == w) return true;
  }
  return false;
}

// The maximal runs of non-white-space characters of decoded text, as byte
// ranges of text.
inline std::vector<std::string_view> split_tokens(std::string_view text,
                                                  const std::vector<CodePoint>& characters) {
  std::vector<std::string_view> tokens;
  std::size_t start = 0;
  bool inside = false;
  for (const CodePoint& c : characters) {
    const bool blank = is_reference_white_space(c.value);
    if (!blank && !inside) start = c.offset;
    if (blank && inside) tokens.push_back(text.substr(start, c.offset - start));
    inside = !blank;
  }
  if (inside) tokens.push_back(text.substr(start));
  return tokens;
}

// An optional '+', then digits only, the value at most 2^64 - 1: decided on
// the digits as text (length and comparison with the largest value) before
// any arithmetic.
inline std::optional<std::uint64_t> reference_decimal(std::string_view token) {
  if (!token.empty() && token[0] == '+') token.remove_prefix(1);
  if (token.empty()) return std::nullopt;
  for (char c : token) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  while (token.size() > 1 && token[0] == '0') token.remove_prefix(1);
  constexpr std::string_view kLargest = "18446744073709551615";
  if (token.size() > kLargest.size()) return std::nullopt;
  if (token.size() == kLargest.size() && token > kLargest) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : token) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  return value;
}

// The bytes of text shown as escapes, for messages about a failed property.
inline std::string printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out += ch;
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

}  // namespace tilvane::fuzz
