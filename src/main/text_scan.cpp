#include "main/text_scan.h"

namespace tilvane {

bool is_white_space(char32_t c) {
  if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

char32_t decode_utf8(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t c = lead & (0x7Fu >> length);
  for (int i = 1; i < length; ++i) c = (c << 6) | (byte(pos + static_cast<std::size_t>(i)) & 0x3Fu);
  pos += static_cast<std::size_t>(length);
  return c;
}

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      if (b0 == 0xE0) low = 0xA0;   // overlong
      if (b0 == 0xED) high = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      if (b0 == 0xF0) low = 0x90;   // overlong
      if (b0 == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    if (b1 < low || b1 > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if (b < 0x80 || b > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

std::optional<std::string_view> TokenReader::next() {
  const std::size_t n = text_.size();
  std::size_t start = pos_;
  // Skip white space.
  while (start < n) {
    std::size_t after = start;
    if (!is_white_space(decode_utf8(text_, after))) break;
    start = after;
  }
  if (start >= n) {
    pos_ = n;
    return std::nullopt;
  }
  std::size_t end = start;
  while (end < n) {
    std::size_t after = end;
    if (is_white_space(decode_utf8(text_, after))) break;
    end = after;
  }
  pos_ = end;
  return text_.substr(start, end - start);
}

std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view token) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  if (token.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char ch : token) {
    if (ch < '0' || ch > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(ch - '0');
    if (__builtin_mul_overflow(value, std::uint64_t{10}, &value) ||
        __builtin_add_overflow(value, digit, &value)) {
      return std::nullopt;
    }
  }
  return value;
}

}  // namespace tilvane
