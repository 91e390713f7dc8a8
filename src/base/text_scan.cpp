#include "base/text_scan.h"

#include <algorithm>

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

// Strict UTF-8 as the standard defines it: the lead byte fixes the length, and
// the second byte's range excludes the overlong forms (after E0 and F0), the
// surrogates (after ED) and everything above U+10FFFF (after F4). C0, C1 and
// F5 to FF never lead.
std::size_t utf8_sequence_length(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - pos < length) return 0;
  const unsigned char b1 = byte(pos + 1);
  if (b1 < low || b1 > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    const unsigned char b = byte(pos + k);
    if (b < 0x80 || b > 0xBF) return 0;
  }
  return length;
}

char32_t decode_utf8(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t c = lead & (0x7Fu >> length);
  for (int i = 1; i < length; ++i) c = (c << 6) | (byte(pos + static_cast<std::size_t>(i)) & 0x3Fu);
  pos += static_cast<std::size_t>(length);
  return c;
}

bool is_valid_utf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const std::size_t length = utf8_sequence_length(text, pos);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

namespace {

// Whether the character at pos is white space, and where the next one starts.
// ASCII, by far the common case, needs no decoding.
bool white_space_at(std::string_view text, std::size_t pos, std::size_t& next) {
  const auto b = static_cast<unsigned char>(text[pos]);
  if (b < 0x80) {
    next = pos + 1;
    return b == 0x20 || (b >= 0x09 && b <= 0x0D);
  }
  next = pos;
  return is_white_space(decode_utf8(text, next));
}

}  // namespace

// One pass over the text in total: each call resumes where the last token
// ended, so reading all tokens is linear in the text's length.
std::optional<std::string_view> TokenReader::next() {
  const std::size_t n = text_.size();
  std::size_t start = pos_;
  std::size_t after = start;
  while (start < n && white_space_at(text_, start, after)) start = after;
  if (start >= n) {
    pos_ = n;
    return std::nullopt;
  }
  std::size_t end = start;
  while (end < n && !white_space_at(text_, end, after)) end = after;
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

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    words.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

}  // namespace tilvane
