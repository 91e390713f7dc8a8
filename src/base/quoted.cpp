#include "base/quoted.h"

#include <algorithm>
#include <charconv>

#include "base/text_scan.h"
#include "base/unicode_tables.h"

namespace tilvane {
namespace {

// One binary search over the generated range table.
bool needs_code_point_escape(char32_t c) {
  const auto ranges = escaped_code_point_ranges();
  const auto after =
      std::upper_bound(ranges.begin(), ranges.end(), c,
                       [](char32_t x, const CodePointRange& r) { return x < r.first; });
  return after != ranges.begin() && c <= std::prev(after)->last;
}

void append_hex(std::string& out, std::uint32_t value, int min_digits) {
  char digits[8];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value, 16);
  (void)ec;
  for (auto width = end - digits; width < min_digits; ++width) out += '0';
  out.append(digits, end);
}

}  // namespace

// Walks the text one character at a time: the six characters with short
// escapes first, then the table of code points written as \u{h}; everything
// else is copied byte for byte, so printable non-ASCII text stays readable.
std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t length = utf8_sequence_length(text, pos);
    if (length == 0) {
      out += "\\x";
      append_hex(out, static_cast<unsigned char>(text[pos]), 2);
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    const char32_t c = decode_utf8(text, pos);
    switch (c) {
      case U'\\':
        out += "\\\\";
        break;
      case U'"':
        out += "\\\"";
        break;
      case U'\0':
        out += "\\0";
        break;
      case U'\t':
        out += "\\t";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'\n':
        out += "\\n";
        break;
      default:
        if (needs_code_point_escape(c)) {
          out += "\\u{";
          append_hex(out, static_cast<std::uint32_t>(c), 1);
          out += '}';
        } else {
          out.append(text, start, length);
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace tilvane
