#include "census/checkpoint.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/checksum.h"
#include "base/text_format.h"
#include "base/text_scan.h"

namespace tilvane {
namespace {

constexpr std::string_view kMagic = "tilvane-census checkpoint";
constexpr std::string_view kChecksumKey = "checksum ";

void append_numbers(std::string& out, std::span<const std::uint64_t> numbers) {
  for (std::uint64_t n : numbers) out += cat(" ", n);
}

// The lines of a checkpoint body, each "key value..." with single blanks.
class LineReader {
 public:
  explicit LineReader(std::string_view body) : rest_(body) {}

  bool at_end() const { return rest_.empty(); }
  std::string_view peek_key() const {
    const std::string_view line = rest_.substr(0, rest_.find('\n'));
    return line.substr(0, line.find(' '));
  }

  // The next line, which must start with key; returns the words after it.
  Result<std::vector<std::string_view>> take(std::string_view key) {
    const std::size_t feed = rest_.find('\n');
    if (feed == std::string_view::npos) return fail(cat("checkpoint is damaged: no line ", key));
    std::string_view line = rest_.substr(0, feed);
    rest_.remove_prefix(feed + 1);
    std::vector<std::string_view> words;
    while (!line.empty()) {
      const std::size_t blank = line.find(' ');
      words.push_back(line.substr(0, blank));
      line = blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
    }
    if (words.empty() || words[0] != key) {
      return fail(cat("checkpoint is damaged: expected line ", key));
    }
    words.erase(words.begin());
    return words;
  }

  Result<std::uint64_t> number(std::string_view key) {
    auto words = take(key);
    if (!words) return std::move(words).take_error();
    std::optional<std::uint64_t> value;
    if (words->size() == 1) value = parse_unsigned_decimal((*words)[0]);
    if (!value) return fail(cat("checkpoint is damaged: bad line ", key));
    return *value;
  }

  Result<std::string> word(std::string_view key) {
    auto words = take(key);
    if (!words) return std::move(words).take_error();
    if (words->size() != 1) return fail(cat("checkpoint is damaged: bad line ", key));
    return std::string((*words)[0]);
  }

 private:
  std::string_view rest_;
};

Result<std::vector<std::uint64_t>> numbers_of(std::span<const std::string_view> words,
                                              std::string_view key) {
  std::vector<std::uint64_t> numbers;
  for (std::string_view w : words) {
    const auto value = parse_unsigned_decimal(w);
    if (!value) return fail(cat("checkpoint is damaged: bad line ", key));
    numbers.push_back(*value);
  }
  return numbers;
}

}  // namespace

std::string render_checkpoint(const Checkpoint& c) {
  const ExplorationTally& t = c.tally;
  std::string text = cat(
      kMagic, "\nversion ", c.program_version, "\nspace ", space_kind_name(c.plan.space.kind),
      "\nsize ", c.plan.space.k, "\nmax-lcm ", c.plan.space.bound, "\nsearch ",
      search_kind_name(c.plan.search), "\nmax-nodes ", c.plan.max_nodes, "\nsample ", c.plan.sample,
      "\n", c.plan.parts > 1 ? cat("part ", c.plan.part, " ", c.plan.parts, "\n") : std::string(),
      "work ", c.work_count, "\ndecided ", t.decided, "\ndropped ", t.dropped, "\nnodes ", t.nodes,
      "\nelapsed-ms ", c.elapsed_ms, "\n");
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

  LineReader lines(body);
  if (body.substr(0, kMagic.size() + 1) != cat(kMagic, "\n")) {
    return fail("checkpoint is damaged: not a tilvane-census checkpoint");
  }
  (void)lines.take("tilvane-census");
  Checkpoint c;
  auto version = lines.word("version");
  if (!version) return std::move(version).take_error();
  c.program_version = *version;
  auto space = lines.word("space");
  if (!space) return std::move(space).take_error();
  const auto kind = parse_space_kind(*space);
  if (!kind) return fail("checkpoint is damaged: bad line space");
  c.plan.space.kind = *kind;
  auto size = lines.number("size");
  if (!size) return std::move(size).take_error();
  c.plan.space.k = static_cast<std::size_t>(*size);
  auto max_lcm = lines.number("max-lcm");
  if (!max_lcm) return std::move(max_lcm).take_error();
  c.plan.space.bound = *max_lcm;
  auto search = lines.word("search");
  if (!search) return std::move(search).take_error();
  if (*search != "decide" && *search != "exact") {
    return fail("checkpoint is damaged: bad line search");
  }
  c.plan.search = *search == "decide" ? SearchKind::Decide : SearchKind::Exact;
  std::uint64_t* fields[] = {&c.plan.max_nodes, &c.plan.sample, &c.work_count, &c.tally.decided,
                             &c.tally.dropped,  &c.tally.nodes, &c.elapsed_ms};
  const std::string_view keys[] = {"max-nodes", "sample", "work",      "decided",
                                   "dropped",   "nodes",  "elapsed-ms"};
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    // A run of one part of the work list says which; a whole run's
    // checkpoint has no such line.
    if (keys[i] == "work" && lines.peek_key() == "part") {
      auto words = lines.take("part");
      if (!words) return std::move(words).take_error();
      auto part = numbers_of(*words, "part");
      if (!part) return std::move(part).take_error();
      if (part->size() != 2 || (*part)[0] == 0 || (*part)[0] > (*part)[1]) {
        return fail("checkpoint is damaged: bad line part");
      }
      c.plan.part = (*part)[0];
      c.plan.parts = (*part)[1];
    }
    auto value = lines.number(keys[i]);
    if (!value) return std::move(value).take_error();
    *fields[i] = *value;
  }
  while (!lines.at_end() && lines.peek_key() == "found") {
    auto words = lines.take("found");
    if (!words) return std::move(words).take_error();
    const auto colon = std::find(words->begin(), words->end(), std::string_view(":"));
    if (colon == words->end()) return fail("checkpoint is damaged: bad line found");
    auto moduli = numbers_of({words->begin(), colon}, "found");
    if (!moduli) return std::move(moduli).take_error();
    auto residues = numbers_of({colon + 1, words->end()}, "found");
    if (!residues) return std::move(residues).take_error();
    if (moduli->size() != c.plan.space.k || residues->size() != moduli->size()) {
      return fail("checkpoint is damaged: bad line found");
    }
    c.tally.found.push_back({std::move(*moduli), std::move(*residues)});
  }
  while (!lines.at_end()) {
    auto words = lines.take("undecided");
    if (!words) return std::move(words).take_error();
    auto moduli = numbers_of(*words, "undecided");
    if (!moduli) return std::move(moduli).take_error();
    if (moduli->size() != c.plan.space.k) return fail("checkpoint is damaged: bad line undecided");
    c.tally.undecided.push_back(std::move(*moduli));
  }
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
