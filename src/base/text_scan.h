// Reading user texts: UTF-8 decoding, the Unicode White_Space set, tokens
// separated by white space, and unsigned decimal numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tilvane {

// True for the characters of the Unicode White_Space property.
bool is_white_space(char32_t c);

// The length in bytes (1 to 4) of the strict UTF-8 sequence that starts at
// text[pos], or 0 when the bytes there are not one.
std::size_t utf8_sequence_length(std::string_view text, std::size_t pos);

// Decodes the character at text[pos] of valid UTF-8 text and advances pos.
char32_t decode_utf8(std::string_view text, std::size_t& pos);

// True when text is strict UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequences.
bool is_valid_utf8(std::string_view text);

// Yields the maximal runs of non-white-space characters of valid UTF-8 text,
// front to back, without copying.
class TokenReader {
 public:
  explicit TokenReader(std::string_view text) : text_(text) {}
  // The next token, or nothing when only white space remains.
  std::optional<std::string_view> next();

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// An optional single '+', then one or more ASCII digits and nothing else, the
// value at most 18446744073709551615; nothing for any other text.
std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view token);

// The words of a line, each ended by a space or the end (so two spaces in a
// row give an empty word).
std::vector<std::string_view> split_words(std::string_view line);

}  // namespace tilvane
