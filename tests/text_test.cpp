// Reading user texts: strict UTF-8, white space, tokens, unsigned decimals,
// and the quoted form in which messages show them.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/quoted.h"
#include "base/text_scan.h"
#include "base/unicode_tables.h"

namespace tilvane {
namespace {

using namespace std::string_literals;

TEST(QuotedForm, EscapesExactlyTheCharactersThatWouldHideOrMislead) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"abc", R"("abc")"},
      {"", R"("")"},
      {"a b 'c'", R"("a b 'c'")"},
      {R"(a"b\c)", R"("a\"b\\c")"},
      {"\0\t\r\n"s, R"("\0\t\r\n")"},
      {"\x01\x1b\x7f\v\f", R"("\u{1}\u{1b}\u{7f}\u{b}\u{c}")"},
      // C1 control, no-break space, soft hyphen (format), the rest of the
      // Unicode spaces and separators.
      {"\u0085\u00a0\u00ad", R"("\u{85}\u{a0}\u{ad}")"},
      {"\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000",
       R"("\u{1680}\u{2000}\u{200a}\u{2028}\u{2029}\u{202f}\u{205f}\u{3000}")"},
      // Format characters: zero-width space, joiners, byte-order mark.
      {"\u200b\u200c\u200d\ufeff", R"("\u{200b}\u{200c}\u{200d}\u{feff}")"},
      // Private use and unassigned code points, the highest included.
      {"\ue000\U000f0000\U0010ffff", R"("\u{e000}\u{f0000}\u{10ffff}")"},
      {"\u0378\uffff\U000e0080", R"("\u{378}\u{ffff}\u{e0080}")"},
      // Grapheme-extending marks, spacing ones and a modifier letter included;
      // a spacing mark that does not extend stays.
      {"e\u0301", R"("e\u{301}")"},
      {"\u09be\uff9e\u0903", "\"\\u{9be}\\u{ff9e}\u0903\""},
      // Printable non-ASCII text is shown as it is.
      {"\u00e9\u65e5\u672c\U0001f600\U0001f3fb", "\"\u00e9\u65e5\u672c\U0001f600\U0001f3fb\""},
      // Bytes that begin no UTF-8 sequence are never copied.
      {"a\xff\xc0\x80", R"("a\xff\xc0\x80")"},
      {"\xe2\x82", R"("\xe2\x82")"},
  };
  for (const Case& c : cases) EXPECT_EQ(quoted(c.text), c.expected) << c.expected;
}

TEST(UnicodeTable, IsSortedDisjointAndNonAdjacent) {
  const auto ranges = escaped_code_point_ranges();
  ASSERT_FALSE(ranges.empty());
  EXPECT_EQ(ranges.front().first, 0u);
  EXPECT_EQ(ranges.back().last, 0x10FFFFu);
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    EXPECT_LE(ranges[i].first, ranges[i].last);
    if (i > 0) {
      EXPECT_GT(ranges[i].first, ranges[i - 1].last + 1) << "range " << i;
    }
  }
  EXPECT_EQ(unicode_version(), "15.0.0");
}

TEST(Utf8, AcceptsOnlyStrictUtf8) {
  struct Case {
    std::string text;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"", true},
      {"plain ascii\0"s, true},
      {"\u00e9\u0800\uffff\U00010000\U0010ffff", true},
      {"\xed\x9f\xbf", true},       // U+D7FF, just below the surrogates
      {"\xee\x80\x80", true},       // U+E000, just above them
      {"\x80", false},              // continuation without a lead
      {"\xc0\x80", false},          // overlong NUL
      {"\xc1\xbf", false},          // overlong
      {"\xe0\x9f\xbf", false},      // overlong three-byte form
      {"\xf0\x8f\xbf\xbf", false},  // overlong four-byte form
      {"\xed\xa0\x80", false},      // surrogate U+D800
      {"\xed\xbf\xbf", false},      // surrogate U+DFFF
      {"\xf4\x90\x80\x80", false},  // U+110000
      {"\xf5\x80\x80\x80", false},  // lead above F4
      {"\xff", false},
      {"ab\xe2\x82", false},  // truncated at the end
      {"\xe2\x82x", false},   // truncated before ASCII
      {"\xc3", false},
      {"\xf0\x9f\x98", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_valid_utf8(c.text), c.valid) << quoted(c.text);
}

TEST(Utf8, SequenceLengthAndDecodingAgree) {
  const std::string text = "a\u00e9\u20ac\U0001f600";
  const std::vector<std::pair<std::size_t, char32_t>> expected = {
      {1, U'a'}, {2, U'\u00e9'}, {3, U'\u20ac'}, {4, U'\U0001f600'}};
  std::size_t pos = 0;
  for (const auto& [length, c] : expected) {
    EXPECT_EQ(utf8_sequence_length(text, pos), length);
    const std::size_t before = pos;
    EXPECT_EQ(decode_utf8(text, pos), c);
    EXPECT_EQ(pos, before + length);
  }
  EXPECT_EQ(utf8_sequence_length("\xe2\x82", 0), 0u);
}

TEST(WhiteSpace, IsExactlyTheUnicodeWhiteSpaceSet) {
  const std::vector<char32_t> white = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,
                                       0x85,   0xA0,   0x1680, 0x2000, 0x2005, 0x200A,
                                       0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t c : white) EXPECT_TRUE(is_white_space(c)) << static_cast<std::uint32_t>(c);
  const std::vector<char32_t> not_white = {0x00,   0x08,   0x0E,   0x1C,   0x1F,    0x21,
                                           0x84,   0x86,   0x9F,   0x180E, 0x200B,  0x2027,
                                           0x202A, 0x2060, 0x3001, 0xFEFF, 0x10FFFF};
  for (char32_t c : not_white) EXPECT_FALSE(is_white_space(c)) << static_cast<std::uint32_t>(c);
}

std::vector<std::string> all_tokens(std::string_view text) {
  std::vector<std::string> tokens;
  TokenReader reader(text);
  while (auto token = reader.next()) tokens.emplace_back(*token);
  EXPECT_FALSE(reader.next().has_value());
  return tokens;
}

TEST(Tokens, AreMaximalRunsBetweenAnyWhiteSpace) {
  using Tokens = std::vector<std::string>;
  EXPECT_EQ(all_tokens(""), Tokens{});
  EXPECT_EQ(all_tokens(" \n\t\u3000 "), Tokens{});
  EXPECT_EQ(all_tokens("5"), Tokens{"5"});
  EXPECT_EQ(all_tokens("  5 \n2\t0\r\n"), (Tokens{"5", "2", "0"}));
  EXPECT_EQ(all_tokens("1\u00a02\u20003\u20284\u30005\u00856"),
            (Tokens{"1", "2", "3", "4", "5", "6"}));
  // Characters that only look blank, and a byte-order mark, belong to tokens.
  EXPECT_EQ(all_tokens("\ufeff2 a\u200bb \u00e9\u0301"),
            (Tokens{"\ufeff2", "a\u200bb", "\u00e9\u0301"}));
  EXPECT_EQ(all_tokens("x\0y z"s), (Tokens{"x\0y"s, "z"}));
}

TEST(UnsignedDecimal, AcceptsOptionalPlusAndDigitsUpToTheLargest64BitValue) {
  struct Case {
    std::string text;
    std::optional<std::uint64_t> value;
  };
  const std::vector<Case> cases = {
      {"0", 0},
      {"+0", 0},
      {"7", 7},
      {"+7", 7},
      {"007", 7},
      {"+007", 7},
      {"50000000", 50000000},
      {"18446744073709551615", UINT64_MAX},
      {"000018446744073709551615", UINT64_MAX},
      {"18446744073709551616", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"++1", std::nullopt},
      {"-0", std::nullopt},
      {"-5", std::nullopt},
      {" 5", std::nullopt},
      {"5 ", std::nullopt},
      {"1e6", std::nullopt},
      {"0x10", std::nullopt},
      {"1_000", std::nullopt},
      {"1,000", std::nullopt},
      {"1.0", std::nullopt},
      {"\u0661", std::nullopt},  // ARABIC-INDIC DIGIT ONE
      {"\uff11", std::nullopt},  // FULLWIDTH DIGIT ONE
  };
  for (const Case& c : cases) EXPECT_EQ(parse_unsigned_decimal(c.text), c.value) << quoted(c.text);
}

}  // namespace
}  // namespace tilvane
