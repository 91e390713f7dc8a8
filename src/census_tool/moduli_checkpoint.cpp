#include "census_tool/moduli_checkpoint.h"

#include <algorithm>

#include "base/checksum.h"
#include "base/text_format.h"
#include "base/text_scan.h"

namespace tilvane {
namespace {

constexpr std::string_view kMagic = "tilvane-census moduli checkpoint\n";
constexpr std::string_view kElapsed = "elapsed-ms ";
constexpr std::string_view kChecksum = "checksum ";

Error damaged(std::string_view what) { return fail(cat("checkpoint is damaged: ", what)); }

}  // namespace

std::string_view outcome_word(ModuliOutcome outcome) {
  switch (outcome) {
    case ModuliOutcome::Covering:
      return "covering";
    case ModuliOutcome::NoCovering:
      return "refuted";
    case ModuliOutcome::Undecided:
      return "undecided";
    case ModuliOutcome::Stopped:
      break;
  }
  return "stopped";
}

std::optional<ModuliOutcome> outcome_of_word(std::string_view word) {
  for (const ModuliOutcome o : {ModuliOutcome::Covering, ModuliOutcome::NoCovering,
                                ModuliOutcome::Undecided, ModuliOutcome::Stopped}) {
    if (word == outcome_word(o)) return o;
  }
  return std::nullopt;
}

Result<SubproblemRecord> parse_subproblem_record(std::string_view line) {
  const std::vector<std::string_view> w = split_words(line);
  if (w.size() < 9 || w[0] != "done") return damaged(cat("bad line ", line));
  SubproblemRecord r;
  std::uint64_t* const counts[] = {&r.index,
                                   &r.decision.nodes,
                                   &r.decision.bound_leaves,
                                   &r.decision.projected_leaves,
                                   &r.decision.fibre_branches,
                                   &r.decision.class_branches,
                                   &r.decision.bare_leaves};
  for (std::size_t i = 0; i < 7; ++i) {
    const auto value = parse_unsigned_decimal(w[i == 0 ? 1 : i + 2]);
    if (!value) return damaged(cat("bad line ", line));
    *counts[i] = *value;
  }
  const auto outcome = outcome_of_word(w[2]);
  if (!outcome || *outcome == ModuliOutcome::Stopped) return damaged(cat("bad line ", line));
  r.decision.outcome = *outcome;
  for (std::size_t i = 9; i < w.size(); ++i) {
    const auto value = parse_unsigned_decimal(w[i]);
    if (!value) return damaged(cat("bad line ", line));
    r.decision.residues.push_back(*value);
  }
  if ((r.decision.outcome == ModuliOutcome::Covering) == r.decision.residues.empty()) {
    return damaged(cat("bad line ", line));
  }
  return r;
}

std::string render_subproblem_record(const SubproblemRecord& r) {
  const ModuliDecision& d = r.decision;
  std::string text =
      cat("done ", r.index, " ", outcome_word(d.outcome), " ", d.nodes, " ", d.bound_leaves, " ",
          d.projected_leaves, " ", d.fibre_branches, " ", d.class_branches, " ", d.bare_leaves);
  for (const std::uint64_t residue : d.residues) text += cat(" ", residue);
  return text;
}

std::string render_moduli_checkpoint(const ModuliCheckpoint& c) {
  std::string text = cat(kMagic, c.run, kElapsed, c.elapsed_ms, "\n");
  for (const SubproblemRecord& r : c.done) text += render_subproblem_record(r) + "\n";
  return text + cat(kChecksum, checksum_hex(text), "\n");
}

Result<ModuliCheckpoint> parse_moduli_checkpoint(std::string_view text) {
  // The checksum line is last and covers every byte before it.
  const std::size_t at = text.rfind(cat("\n", kChecksum));
  if (at == std::string_view::npos) return damaged("no checksum");
  const std::string_view body = text.substr(0, at + 1);
  if (text.substr(at + 1) != cat(kChecksum, checksum_hex(body), "\n")) {
    return damaged("checksum does not match");
  }
  if (!body.starts_with(kMagic)) return damaged("not a moduli checkpoint");
  const std::size_t elapsed = body.find(cat("\n", kElapsed));
  if (elapsed == std::string_view::npos) return damaged("no elapsed time");
  ModuliCheckpoint c;
  c.run = std::string(body.substr(kMagic.size(), elapsed + 1 - kMagic.size()));
  std::size_t line = elapsed + 1;
  bool first = true;
  while (line < body.size()) {
    const std::size_t end = body.find('\n', line);
    const std::string_view text_line = body.substr(line, end - line);
    line = end + 1;
    if (first) {
      first = false;
      const auto ms = parse_unsigned_decimal(text_line.substr(kElapsed.size()));
      if (!ms) return damaged("bad elapsed time");
      c.elapsed_ms = *ms;
      continue;
    }
    auto record = parse_subproblem_record(text_line);
    if (!record) return std::move(record).take_error();
    c.done.push_back(std::move(*record));
  }
  return c;
}

}  // namespace tilvane
