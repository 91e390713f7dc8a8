#include "census/checkpoint.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/checksum.h"
#include "base/text_format.h"
#include "base/text_scan.h"
#include "census/plan_lines.h"

namespace tilvane {
namespace {

constexpr std::string_view kMagic = "tilvane-census checkpoint";
constexpr std::string_view kChecksumKey = "checksum ";

void append_numbers(std::string& out, std::span<const std::uint64_t> numbers) {
  for (std::uint64_t n : numbers) out += cat(" ", n);
}

Result<std::vector<std::uint64_t>> numbers_of(std::span<const std::string_view> words,
                                              std::string_view key) {
  std::vector<std::uint64_t> numbers;
  for (std::string_view w : words) {
    const auto value = parse_unsigned_decimal(w);
    if (!value) return fail(cat("checkpoint is damaged: bad or missing line ", key));
    numbers.push_back(*value);
  }
  return numbers;
}

}  // namespace

std::string render_checkpoint(const Checkpoint& c) {
  return render_checkpoint(c, c.tally, c.elapsed_ms);
}

std::string render_checkpoint(const Checkpoint& c, const ExplorationTally& t,
                              std::uint64_t elapsed_ms) {
  std::string text = cat(kMagic, "\n", render_plan_lines("", c.program_version, c.plan, false),
                         "work ", c.work_count, "\ndecided ", t.decided, "\ndropped ", t.dropped,
                         "\nnodes ", t.nodes, "\nelapsed-ms ", elapsed_ms, "\n");
  for (const FoundSet& set : t.found) {
    text += "found";
    append_numbers(text, set.moduli);
    text += " :";
    append_numbers(text, set.residues);
    text += '\n';
  }
  for (const ModuliSet& set : t.undecided) {
    text += "undecided";
    append_numbers(text, set);
    text += '\n';
  }
  text += cat(kChecksumKey, checksum_hex(text), "\n");
  return text;
}

Result<Checkpoint> parse_checkpoint(std::string_view text) {
  // The checksum line is last and covers every byte before it.
  const std::size_t at = text.rfind(cat("\n", kChecksumKey));
  if (at == std::string_view::npos) return fail("checkpoint is damaged: no checksum");
  const std::string_view body = text.substr(0, at + 1);
  const std::string_view stated = text.substr(at + 1 + kChecksumKey.size());
  if (stated != cat(checksum_hex(body), "\n")) {
    return fail("checkpoint is damaged: checksum does not match");
  }

  if (!body.starts_with(cat(kMagic, "\n"))) {
    return fail("checkpoint is damaged: not a tilvane-census checkpoint");
  }
  KeyedLines lines(body.substr(kMagic.size() + 1), "", "checkpoint");
  Checkpoint c;
  if (auto read = read_plan_lines(lines, false, c.program_version, c.plan); !read) {
    return std::move(read).take_error();
  }
  std::uint64_t* fields[] = {&c.work_count, &c.tally.decided, &c.tally.dropped, &c.tally.nodes,
                             &c.elapsed_ms};
  const std::string_view keys[] = {"work", "decided", "dropped", "nodes", "elapsed-ms"};
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    auto value = lines.number(keys[i]);
    if (!value) return std::move(value).take_error();
    *fields[i] = *value;
  }
  while (auto words = lines.take("found")) {
    const auto colon = std::find(words->begin(), words->end(), std::string_view(":"));
    if (colon == words->end()) return fail(lines.damaged("found"));
    auto moduli = numbers_of({words->begin(), colon}, "found");
    if (!moduli) return std::move(moduli).take_error();
    auto residues = numbers_of({colon + 1, words->end()}, "found");
    if (!residues) return std::move(residues).take_error();
    if (moduli->size() != c.plan.space.k || residues->size() != moduli->size()) {
      return fail(lines.damaged("found"));
    }
    c.tally.found.push_back({std::move(*moduli), std::move(*residues)});
  }
  while (lines.next_is("undecided")) {
    auto moduli = lines.numbers("undecided", c.plan.space.k);
    if (!moduli) return std::move(moduli).take_error();
    c.tally.undecided.push_back(std::move(*moduli));
  }
  if (!lines.rest().empty()) return fail("checkpoint is damaged: a line of no known kind");
  if (c.tally.decided > c.work_count || c.tally.dropped > c.tally.decided ||
      c.tally.found.size() + c.tally.undecided.size() > c.tally.decided) {
    return fail("checkpoint is damaged: its counts disagree");
  }
  c.tally.searched = c.tally.decided - c.tally.dropped;
  return c;
}

Status check_checkpoint_matches(const Checkpoint& checkpoint, std::string_view program_version,
                                const ExplorationPlan& plan, std::uint64_t work_count) {
  if (checkpoint.program_version != program_version) {
    return fail(cat("checkpoint belongs to another run: written by version ",
                    checkpoint.program_version, ", this is version ", program_version));
  }
  if (!(checkpoint.plan == plan)) {
    return fail(cat("checkpoint belongs to another run: ", describe_plan(checkpoint.plan),
                    ", this run: ", describe_plan(plan)));
  }
  if (checkpoint.work_count != work_count) {
    return fail(cat("checkpoint belongs to another run: ", checkpoint.work_count,
                    " candidates, this run has ", work_count));
  }
  return {};
}

}  // namespace tilvane
