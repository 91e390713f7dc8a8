// Fuzz target for the candidate parser. Every input is first decoded by a
// reference UTF-8 reader, which must agree with the program's strict check;
// texts that are UTF-8 are then parsed both by parse_candidate and by a
// reference reading of the format written here, and the two must agree on
// acceptance, on the congruences accepted and on the exact message of the
// first fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/quoted.h"
#include "base/text_format.h"
#include "base/text_scan.h"
#include "fuzz_check.h"
#include "reference_text.h"
#include "tilvane/candidate_file.h"

namespace tilvane::fuzz {
namespace {

struct Reading {
  bool accepted = false;
  std::vector<Congruence> congruences;
  std::string error;
};

Reading rejected(std::string error) { return {false, {}, std::move(error)}; }

// The format read over the whole token list at once: k, then exactly k rows
// of two tokens, each row's faults in a fixed order.
Reading reference_parse(const std::vector<std::string_view>& tokens) {
  if (tokens.empty()) return rejected("empty candidate: expected k");
  const auto k = reference_decimal(tokens[0]);
  if (!k) return rejected("invalid size k: " + quoted(tokens[0]));
  if (*k == 0) return rejected("k must be positive");
  if (*k > 128) return rejected(cat("k=", *k, " exceeds checker limit 128"));

  Reading reading;
  for (std::uint64_t row = 1; row <= *k; ++row) {
    const std::size_t at = static_cast<std::size_t>(2 * row - 1);
    if (at >= tokens.size()) return rejected(cat("missing modulus on row ", row));
    if (at + 1 >= tokens.size()) return rejected(cat("missing residue on row ", row));
    const auto modulus = reference_decimal(tokens[at]);
    const auto residue = reference_decimal(tokens[at + 1]);
    if (!modulus) return rejected(cat("invalid modulus on row ", row, ": ", quoted(tokens[at])));
    if (!residue) {
      return rejected(cat("invalid residue on row ", row, ": ", quoted(tokens[at + 1])));
    }
    if (*modulus < 2) return rejected(cat("modulus on row ", row, " must exceed 1"));
    if (*residue >= *modulus) {
      return rejected(
          cat("residue ", *residue, " on row ", row, " is not canonical modulo ", *modulus));
    }
    if (!reading.congruences.empty() && reading.congruences.back().modulus >= *modulus) {
      return rejected(cat("moduli must be strictly increasing: ",
                          reading.congruences.back().modulus, " then ", *modulus));
    }
    reading.congruences.push_back({*modulus, *residue});
  }
  const std::size_t used = static_cast<std::size_t>(2 * *k + 1);
  if (tokens.size() > used) return rejected("unexpected trailing token: " + quoted(tokens[used]));
  reading.accepted = true;
  return reading;
}

std::string describe(const std::vector<Congruence>& congruences) {
  std::string out;
  for (const Congruence& c : congruences) out += cat(" ", c.residue, "/", c.modulus);
  return out;
}

}  // namespace
}  // namespace tilvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tilvane;
  using namespace tilvane::fuzz;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto characters = decode_strict_utf8(text);
  FUZZ_REQUIRE(is_valid_utf8(text) == characters.has_value(), printable(text));
  // The parser is only ever given text that passed the UTF-8 check.
  if (!characters) return 0;

  const std::vector<std::string_view> tokens = split_tokens(text, *characters);
  const auto parsed = parse_candidate(text);
  const Reading expected = reference_parse(tokens);

  FUZZ_REQUIRE(parsed.ok() == expected.accepted,
               printable(text) + "\nexpected: " + (expected.accepted ? "accept" : expected.error));
  if (parsed) {
    FUZZ_REQUIRE(*parsed == expected.congruences,
                 printable(text) + "\nparsed:" + describe(*parsed) +
                     "\nexpected:" + describe(expected.congruences));
    // What is accepted has exactly k rows and nothing after them.
    FUZZ_REQUIRE(tokens.size() == 2 * parsed->size() + 1, printable(text));
  } else {
    FUZZ_REQUIRE(parsed.error() == expected.error,
                 printable(text) + "\ngot: " + parsed.error() + "\nexpected: " + expected.error);
    // Tokens appear only in quoted form: no message carries a raw control
    // character or line break.
    for (char c : parsed.error()) {
      FUZZ_REQUIRE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, printable(parsed.error()));
    }
  }
  return 0;
}
