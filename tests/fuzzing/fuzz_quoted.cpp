// Fuzz target for the quoted form. For any bytes at all, quoted() must give
// UTF-8 text between two double quotes with no control character, no raw
// line break and no other character that hides or misleads; every escape
// must be well formed; and reading the escapes back (unquote below) must give
// the original bytes, so that two different texts never look the same.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/quoted.h"
#include "base/text_format.h"
#include "fuzz_check.h"
#include "reference_text.h"

namespace tilvane::fuzz {
namespace {

std::optional<std::uint32_t> hex_value(std::string_view digits) {
  if (digits.empty() || digits.size() > 6) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else {
      return std::nullopt;  // upper-case digits are not part of the form
    }
    value = value * 16 + digit;
  }
  return value;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Characters that must never appear unescaped: the controls, the separators
// and spaces other than U+0020, some format characters, combining marks,
// private use, noncharacters and a few unassigned code points. A sample
// listed by hand, independent of the program's generated table.
bool must_be_escaped(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0xAD) return true;
  if (c >= 0x300 && c <= 0x36F) return true;  // combining diacritical marks
  if (c == 0x378 || c == 0x379 || c == 0x1680 || c == 0x3000 || c == 0xFEFF) return true;
  if (c >= 0x2000 && c <= 0x200F) return true;  // spaces, zero widths, marks
  if (c >= 0x2028 && c <= 0x202F) return true;  // separators, embeddings
  if (c >= 0x205F && c <= 0x2064) return true;
  if (c >= 0xD800 && c <= 0xF8FF) return true;  // surrogates, private use
  if (c >= 0xFE00 && c <= 0xFE0F) return true;  // variation selectors
  if (c >= 0xFFF9 && c <= 0xFFFB) return true;  // interlinear annotation
  if ((c & 0xFFFE) == 0xFFFE) return true;      // noncharacters of every plane
  if (c >= 0xFDD0 && c <= 0xFDEF) return true;
  if (c == 0xE0001 || (c >= 0xE0020 && c <= 0xE007F) || (c >= 0xE0100 && c <= 0xE01EF)) {
    return true;
  }
  return c >= 0xF0000;  // private use planes
}

struct Unquoted {
  std::string bytes;
  std::size_t byte_escapes = 0;  // how many \xhh escapes the form held
};

// Reads a quoted form back into the bytes it shows. Fails the property on
// anything that is not exactly the form: a missing quote, an unescaped quote
// inside, an unknown or malformed escape, an escape that was not needed.
Unquoted unquote(std::string_view form, std::string_view original) {
  const auto where = [&] { return "input: " + printable(original) + "\nform: " + printable(form); };
  FUZZ_REQUIRE(form.size() >= 2 && form.front() == '"' && form.back() == '"', where());
  const std::string_view body = form.substr(1, form.size() - 2);
  Unquoted result;
  std::string& out = result.bytes;
  std::size_t i = 0;
  while (i < body.size()) {
    const char c = body[i];
    FUZZ_REQUIRE(c != '"', where());
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    FUZZ_REQUIRE(i + 1 < body.size(), where());
    const char kind = body[i + 1];
    i += 2;
    switch (kind) {
      case '\\':
      case '"':
        out += kind;
        break;
      case '0':
        out += '\0';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 'x': {
        // A byte that starts no UTF-8 sequence: two lower-case hex digits,
        // never a plain ASCII character.
        FUZZ_REQUIRE(i + 2 <= body.size(), where());
        const auto byte = hex_value(body.substr(i, 2));
        FUZZ_REQUIRE(byte && *byte >= 0x80, where());
        out += static_cast<char>(*byte);
        ++result.byte_escapes;
        i += 2;
        break;
      }
      case 'u': {
        FUZZ_REQUIRE(i < body.size() && body[i] == '{', where());
        const std::size_t close = body.find('}', i);
        FUZZ_REQUIRE(close != std::string_view::npos, where());
        const std::string_view digits = body.substr(i + 1, close - i - 1);
        const auto value = hex_value(digits);
        FUZZ_REQUIRE(value.has_value(), where());
        FUZZ_REQUIRE(digits.size() == 1 || digits[0] != '0', where());  // no leading zeros
        const auto c32 = static_cast<char32_t>(*value);
        FUZZ_REQUIRE(c32 <= 0x10FFFF && !(c32 >= 0xD800 && c32 <= 0xDFFF), where());
        // Printable ASCII and the characters with short escapes never take
        // the long form.
        FUZZ_REQUIRE(!(c32 >= 0x20 && c32 < 0x7F), where());
        FUZZ_REQUIRE(c32 != 0 && c32 != '\t' && c32 != '\r' && c32 != '\n', where());
        append_utf8(out, c32);
        i = close + 1;
        break;
      }
      default:
        FUZZ_REQUIRE(false, where());
    }
  }
  return result;
}

}  // namespace
}  // namespace tilvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tilvane;
  using namespace tilvane::fuzz;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string form = quoted(text);
  const auto where = [&] { return "input: " + printable(text) + "\nform: " + printable(form); };

  // The form is UTF-8 even when the text is not, and every character that
  // appears in it unescaped is one that shows as itself.
  const auto characters = decode_strict_utf8(form);
  FUZZ_REQUIRE(characters.has_value(), where());
  for (const CodePoint& c : *characters) FUZZ_REQUIRE(!must_be_escaped(c.value), where());

  // Reversible: the escapes read back to exactly the bytes given.
  const Unquoted back = unquote(form, text);
  FUZZ_REQUIRE(back.bytes == text, where());

  // Byte escapes exactly when the text is not UTF-8; a text of letters,
  // digits and punctuation other than the two escaped ones is shown as it is.
  FUZZ_REQUIRE((back.byte_escapes == 0) == decode_strict_utf8(text).has_value(), where());
  bool plain = true;
  for (char c : text) {
    plain = plain && c >= 0x21 && c < 0x7F && c != '"' && c != '\\';
  }
  if (plain) {
    FUZZ_REQUIRE(form.size() == text.size() + 2 && form.substr(1, text.size()) == text, where());
  }
  return 0;
}
