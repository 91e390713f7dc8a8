#include "tilvane/candidate_file.h"

#include <string>

#include "base/quoted.h"
#include "base/text_format.h"
#include "base/text_scan.h"
#include "cli/read_file.h"
#include "engine/candidate_check.h"

namespace tilvane {
namespace {

// Both tokens of a row are taken before either is read as a number, so a row
// cut short reports the missing token even when what is there is malformed.
// The checks then run in a fixed order: form of the modulus, form of the
// residue, modulus above 1, residue canonical, moduli increasing.
Result<Congruence> parse_row(TokenReader& tokens, std::uint64_t row, const Congruence* previous) {
  const auto modulus_token = tokens.next();
  if (!modulus_token) return fail(cat("missing modulus on row ", row));
  const auto residue_token = tokens.next();
  if (!residue_token) return fail(cat("missing residue on row ", row));

  const auto modulus = parse_unsigned_decimal(*modulus_token);
  if (!modulus) return fail(cat("invalid modulus on row ", row, ": ", quoted(*modulus_token)));
  const auto residue = parse_unsigned_decimal(*residue_token);
  if (!residue) return fail(cat("invalid residue on row ", row, ": ", quoted(*residue_token)));
  if (*modulus < 2) return fail(cat("modulus on row ", row, " must exceed 1"));
  if (*residue >= *modulus) {
    return fail(cat("residue ", *residue, " on row ", row, " is not canonical modulo ", *modulus));
  }
  if (previous != nullptr && previous->modulus >= *modulus) {
    return fail(cat("moduli must be strictly increasing: ", previous->modulus, " then ", *modulus));
  }
  return Congruence{*modulus, *residue};
}

// Reads and parses the file; the text is released on return, before the
// engine's work begins.
Result<std::vector<Congruence>> read_candidate(std::string_view path) {
  auto text = read_text_file(path);
  if (!text) return fail(cat("cannot read candidate ", quoted(path), ": ", text.error()));
  return parse_candidate(*text);
}

}  // namespace

Result<std::vector<Congruence>> parse_candidate(std::string_view text) {
  TokenReader tokens(text);
  const auto size_token = tokens.next();
  if (!size_token) return fail("empty candidate: expected k");
  const auto k = parse_unsigned_decimal(*size_token);
  if (!k) return fail(cat("invalid size k: ", quoted(*size_token)));
  if (*k == 0) return fail("k must be positive");
  if (*k > kCandidateLimit) return fail(cat("k=", *k, " exceeds checker limit ", kCandidateLimit));

  std::vector<Congruence> congruences;
  congruences.reserve(static_cast<std::size_t>(*k));
  for (std::uint64_t row = 1; row <= *k; ++row) {
    auto congruence = parse_row(tokens, row, congruences.empty() ? nullptr : &congruences.back());
    if (!congruence) return std::move(congruence).take_error();
    congruences.push_back(*congruence);
  }
  if (const auto extra = tokens.next()) {
    return fail(cat("unexpected trailing token: ", quoted(*extra)));
  }
  return congruences;
}

Status check_candidate(std::string_view path, std::uint64_t max_nodes, std::ostream& out) {
  auto candidate = read_candidate(path);
  if (!candidate) return std::move(candidate).take_error();
  const auto figures = check_congruences(*candidate, max_nodes);
  if (!figures) return fail(figures.error());
  out << cat("PASS: ", figures->count, " distinct moduli; displayed classes cover period ",
             figures->period, "; every one-modulus deletion is non-covering (", figures->nodes,
             " exhaustive DFS nodes)\n");
  return {};
}

}  // namespace tilvane
