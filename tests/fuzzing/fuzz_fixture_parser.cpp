// Fuzz target for the expected-set parser. The first byte of the input picks
// k (0 to 11), the rest is the fixture text. parse_expected_sets and a
// reference reading written here must agree on acceptance, on the sets read
// and on the exact message of the first fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/quoted.h"
#include "base/text_format.h"
#include "census/fixtures.h"
#include "fuzz_check.h"
#include "reference_text.h"

namespace tilvane::fuzz {
namespace {

struct Reading {
  bool accepted = false;
  ModuliSetList sets;
  std::string error;
};

Reading rejected(std::string error) { return {false, {}, std::move(error)}; }

std::string bracket_form(const std::vector<std::uint64_t>& numbers) {
  std::string out = "[";
  for (std::size_t i = 0; i < numbers.size(); ++i) out += cat(i == 0 ? "" : ", ", numbers[i]);
  return out + "]";
}

// a strictly before b, element by element; a proper prefix comes first.
bool strictly_before(const ModuliSet& a, const ModuliSet& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) return a[i] < b[i];
  }
  return a.size() < b.size();
}

// The whole text cut into lines first, then each line read on its own.
Reading reference_parse(std::string_view text, std::size_t k) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }

  Reading reading;
  for (std::size_t n = 1; n <= lines.size(); ++n) {
    const std::string_view line = lines[n - 1];
    const auto characters = decode_strict_utf8(line);
    if (!characters) return rejected(cat("expected-set line ", n, " is not valid UTF-8"));
    std::vector<std::uint64_t> numbers;
    for (std::string_view token : split_tokens(line, *characters)) {
      const auto value = reference_decimal(token);
      if (!value)
        return rejected(cat("invalid expected-set token ", quoted(token), " on line ", n));
      numbers.push_back(*value);
    }
    if (numbers.empty()) continue;
    bool increasing = true;
    for (std::size_t i = 1; i < numbers.size(); ++i)
      increasing = increasing && numbers[i - 1] < numbers[i];
    if (numbers.size() != k || !increasing) {
      return rejected(cat("expected-set line ", n, " is not ", k,
                          " strictly increasing moduli: ", bracket_form(numbers)));
    }
    reading.sets.push_back(numbers);
  }
  for (std::size_t i = 1; i < reading.sets.size(); ++i) {
    if (!strictly_before(reading.sets[i - 1], reading.sets[i])) {
      return rejected("expected sets are not strictly lexicographically sorted");
    }
  }
  reading.accepted = true;
  return reading;
}

}  // namespace
}  // namespace tilvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tilvane;
  using namespace tilvane::fuzz;
  if (size == 0) return 0;
  const std::size_t k = data[0] % 12;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const auto parsed = parse_expected_sets(text, k);
  const Reading expected = reference_parse(text, k);
  const std::string shown = cat("k=", k, " text=", printable(text));

  FUZZ_REQUIRE(parsed.ok() == expected.accepted,
               shown + "\nexpected: " + (expected.accepted ? "accept" : expected.error));
  if (parsed) {
    FUZZ_REQUIRE(*parsed == expected.sets, shown);
    for (const ModuliSet& set : *parsed) FUZZ_REQUIRE(set.size() == k, shown);
  } else {
    FUZZ_REQUIRE(parsed.error() == expected.error,
                 shown + "\ngot: " + parsed.error() + "\nexpected: " + expected.error);
  }
  return 0;
}
