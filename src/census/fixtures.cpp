#include "census/fixtures.h"

#include <algorithm>

#include "base/quoted.h"
#include "base/text_format.h"
#include "base/text_scan.h"

namespace tilvane {
namespace {

// Reads one line (without its line feed) into numbers. A blank line gives an
// empty set. The first token that is not an unsigned decimal number is
// reported before anything else is said about the line.
Result<ModuliSet> parse_line(std::string_view line, std::size_t line_number, std::size_t k) {
  // The tokenizer decodes UTF-8; a line that is not UTF-8 has no tokens to
  // show in quoted form, so it is refused as a whole.
  if (!is_valid_utf8(line)) {
    return fail(cat("expected-set line ", line_number, " is not valid UTF-8"));
  }
  ModuliSet numbers;
  TokenReader tokens(line);
  while (auto token = tokens.next()) {
    auto value = parse_unsigned_decimal(*token);
    if (!value) {
      return fail(cat("invalid expected-set token ", quoted(*token), " on line ", line_number));
    }
    numbers.push_back(*value);
  }
  if (numbers.empty()) return numbers;
  const bool increasing =
      std::adjacent_find(numbers.begin(), numbers.end(),
                         [](std::uint64_t a, std::uint64_t b) { return a >= b; }) == numbers.end();
  if (numbers.size() != k || !increasing) {
    return fail(cat("expected-set line ", line_number, " is not ", k,
                    " strictly increasing moduli: ", render_set(numbers)));
  }
  return numbers;
}

}  // namespace

// One pass over the text, line by line: a line ends at a line feed (a
// carriage return just before it goes with it), and text after the last line
// feed is a last line. Every line is numbered, blank ones included, so the
// numbers in messages are the editor's line numbers.
Result<ModuliSetList> parse_expected_sets(std::string_view text, std::size_t k) {
  ModuliSetList sets;
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t feed = text.find('\n');
    std::string_view line = text.substr(0, feed);
    if (feed == std::string_view::npos) {
      text = {};
    } else {
      text.remove_prefix(feed + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    }
    ++line_number;
    auto numbers = parse_line(line, line_number, k);
    if (!numbers) return std::move(numbers).take_error();
    if (!numbers->empty()) sets.push_back(std::move(*numbers));
  }
  for (std::size_t i = 1; i < sets.size(); ++i) {
    if (!(sets[i - 1] < sets[i]))
      return fail("expected sets are not strictly lexicographically sorted");
  }
  return sets;
}

Result<ModuliSetList> load_expected_sets(std::string_view text, const CensusSize& census) {
  auto sets = parse_expected_sets(text, census.space.k);
  if (!sets) return sets;
  if (auto counted = check_fixture_count(census, sets->size()); !counted) {
    return std::move(counted).take_error();
  }
  return sets;
}

}  // namespace tilvane
