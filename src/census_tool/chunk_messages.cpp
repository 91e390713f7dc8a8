#include "census_tool/chunk_messages.h"

#include <array>
#include <optional>
#include <utility>

#include "base/quoted.h"
#include "base/text_format.h"
#include "base/text_scan.h"
#include "census_tool/census_tool.h"

namespace tilvane {
namespace {

constexpr std::array<std::pair<CandidateKind, std::string_view>, 5> kKindWords = {{
    {CandidateKind::Dropped, "dropped"},
    {CandidateKind::NotCovering, "not-covering"},
    {CandidateKind::Reducible, "reducible"},
    {CandidateKind::Irreducible, "irreducible"},
    {CandidateKind::Undecided, "undecided"},
}};

std::string_view kind_word(CandidateKind kind) {
  for (const auto& [k, word] : kKindWords) {
    if (k == kind) return word;
  }
  return "undecided";
}

std::optional<CandidateKind> parse_kind_word(std::string_view word) {
  for (const auto& [k, w] : kKindWords) {
    if (w == word) return k;
  }
  return std::nullopt;
}

// A message text shown in an error: quoted, and cut short when long.
std::string shown(std::string_view text) {
  constexpr std::size_t kShown = 60;
  std::string_view part = text.substr(0, kShown);
  while (!part.empty() && !is_valid_utf8(part)) part.remove_suffix(1);
  return cat(quoted(part), text.size() > part.size() ? "..." : "");
}

// The lines of a message: every line ends in a line feed, none is empty.
Result<std::vector<std::string_view>> split_lines(std::string_view text) {
  if (text.empty()) return fail("message is empty");
  if (text.back() != '\n') return fail("message does not end in a line feed");
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == start) return fail(cat("line ", lines.size() + 1, " of the message is empty"));
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The words of a line, separated by exactly one blank.
Result<std::vector<std::string_view>> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(' ', start);
    const std::string_view word = line.substr(start, end - start);
    if (word.empty()) return fail(cat("stray blank in ", shown(line)));
    words.push_back(word);
    if (end == std::string_view::npos) return words;
    start = end + 1;
  }
}

// A plain decimal: ASCII digits only, no sign, no leading zero, within 64
// bits.
std::optional<std::uint64_t> plain_decimal(std::string_view word) {
  if (word.empty() || (word.size() > 1 && word[0] == '0')) return std::nullopt;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return parse_unsigned_decimal(word);
}

// Reads the words of one line as numbers from index first on.
Result<std::vector<std::uint64_t>> numbers_of(std::span<const std::string_view> words,
                                              std::size_t first) {
  std::vector<std::uint64_t> values;
  values.reserve(words.size() - std::min(first, words.size()));
  for (std::size_t i = first; i < words.size(); ++i) {
    const auto value = plain_decimal(words[i]);
    if (!value) return fail(cat("not a plain decimal number: ", shown(words[i])));
    values.push_back(*value);
  }
  return values;
}

Status expect_words(std::span<const std::string_view> words, std::size_t count) {
  if (words.size() != count) {
    return fail(cat("\"", words[0], "\" takes ", count - 1, " values, not ", words.size() - 1));
  }
  return {};
}

// "POSITION KIND NODES MICROSECONDS [RESIDUES...]": residues come with an
// irreducible set only.
Result<PositionedOutcome> parse_outcome_line(std::string_view line) {
  auto words = split_words(line);
  if (!words) return std::move(words).take_error();
  if (words->size() < 4) return fail(cat("outcome line too short: ", shown(line)));
  const auto kind = parse_kind_word((*words)[1]);
  if (!kind) return fail(cat("unknown outcome ", shown((*words)[1])));
  PositionedOutcome result;
  std::vector<std::string_view> numeric{(*words)[0]};
  numeric.insert(numeric.end(), words->begin() + 2, words->end());
  auto numbers = numbers_of(numeric, 0);
  if (!numbers) return std::move(numbers).take_error();
  result.position = (*numbers)[0];
  result.outcome.kind = *kind;
  result.outcome.nodes = (*numbers)[1];
  result.microseconds = (*numbers)[2];
  result.outcome.residues.assign(numbers->begin() + 3, numbers->end());
  if (*kind == CandidateKind::Irreducible && result.outcome.residues.empty()) {
    return fail(cat("irreducible outcome without residues: ", shown(line)));
  }
  if (*kind != CandidateKind::Irreducible && !result.outcome.residues.empty()) {
    return fail(cat("residues with a ", (*words)[1], " outcome: ", shown(line)));
  }
  return result;
}

Result<ExplorationPlan> parse_plan(std::span<const std::string_view> words) {
  // words: SPACE K MAX_LCM SEARCH MAX_NODES SAMPLE PART PARTS
  ExplorationPlan plan;
  const auto kind = parse_space_kind(words[0]);
  if (!kind) return fail(cat("unknown space ", shown(words[0])));
  plan.space.kind = *kind;
  if (words[3] == "decide") {
    plan.search = SearchKind::Decide;
  } else if (words[3] == "exact") {
    plan.search = SearchKind::Exact;
  } else {
    return fail(cat("unknown search ", shown(words[3])));
  }
  const std::array<std::string_view, 6> numeric{words[1], words[2], words[4],
                                                words[5], words[6], words[7]};
  auto numbers = numbers_of(numeric, 0);
  if (!numbers) return std::move(numbers).take_error();
  if ((*numbers)[0] > SIZE_MAX) return fail("size out of range");
  plan.space.k = static_cast<std::size_t>((*numbers)[0]);
  plan.space.bound = (*numbers)[1];
  plan.max_nodes = (*numbers)[2];
  plan.sample = (*numbers)[3];
  plan.part = (*numbers)[4];
  plan.parts = (*numbers)[5];
  if (plan.part == 0 || plan.part > plan.parts) {
    return fail(cat("part ", plan.part, " of ", plan.parts));
  }
  return plan;
}

Result<RankMessage> parse_rank_lines(std::span<const std::string_view> lines) {
  // A failure text is free text and may hold any blanks.
  if (lines[0].starts_with("fail ") && lines.size() == 1) {
    const std::string_view text = lines[0].substr(5);
    if (text.empty() || !is_valid_utf8(text)) return fail("\"fail\" without a readable text");
    return RankMessage(FailMessage{std::string(text)});
  }
  auto words = split_words(lines[0]);
  if (!words) return std::move(words).take_error();
  const std::string_view verb = (*words)[0];
  if (verb != "done" && lines.size() != 1) {
    return fail(cat("\"", verb.substr(0, 16), "\" message has more than one line"));
  }
  if (verb == "hello") {
    if (auto n = expect_words(*words, 11); !n) return std::move(n).take_error();
    auto counts = numbers_of(std::span(*words).subspan(0, 3), 1);
    if (!counts) return std::move(counts).take_error();
    auto plan = parse_plan(std::span(*words).subspan(3));
    if (!plan) return std::move(plan).take_error();
    return RankMessage(HelloMessage{(*counts)[0], (*counts)[1], *plan});
  }
  if (verb == "done") {
    if (auto n = expect_words(*words, 2); !n) return std::move(n).take_error();
    auto count = numbers_of(*words, 1);
    if (!count) return std::move(count).take_error();
    if ((*count)[0] != lines.size() - 1) {
      return fail(
          cat("\"done\" announces ", (*count)[0], " outcomes but carries ", lines.size() - 1));
    }
    DoneMessage done;
    done.outcomes.reserve(lines.size() - 1);
    for (std::size_t i = 1; i < lines.size(); ++i) {
      auto outcome = parse_outcome_line(lines[i]);
      if (!outcome) return fail(cat("line ", i + 1, ": ", outcome.error()));
      done.outcomes.push_back(std::move(*outcome));
    }
    return RankMessage(std::move(done));
  }
  if (verb == "more" || verb == "beat" || verb == "stop") {
    if (auto n = expect_words(*words, 1); !n) return std::move(n).take_error();
    if (verb == "more") return RankMessage(MoreMessage{});
    return verb == "beat" ? RankMessage(BeatMessage{}) : RankMessage(StopMessage{});
  }
  return fail(cat("unknown message ", shown(lines[0])));
}

Result<CoordinatorMessage> parse_coordinator_lines(std::span<const std::string_view> lines) {
  if (lines.size() != 1) return fail("message has more than one line");
  auto words = split_words(lines[0]);
  if (!words) return std::move(words).take_error();
  const std::string_view verb = (*words)[0];
  if (verb == "chunk") {
    if (auto n = expect_words(*words, 3); !n) return std::move(n).take_error();
    auto numbers = numbers_of(*words, 1);
    if (!numbers) return std::move(numbers).take_error();
    if ((*numbers)[1] == 0) return fail("empty chunk");
    if ((*numbers)[0] + (*numbers)[1] < (*numbers)[0]) return fail("chunk beyond any work list");
    return CoordinatorMessage(ChunkMessage{(*numbers)[0], (*numbers)[1]});
  }
  if (verb == "halt") {
    if (auto n = expect_words(*words, 1); !n) return std::move(n).take_error();
    return CoordinatorMessage(HaltMessage{});
  }
  if (verb == "end") {
    if (auto n = expect_words(*words, 2); !n) return std::move(n).take_error();
    auto numbers = numbers_of(*words, 1);
    if (!numbers) return std::move(numbers).take_error();
    const std::uint64_t status = (*numbers)[0];
    if (status != kExitDone && status != kExitFailure && status != kExitIncomplete &&
        status != kExitStopped) {
      return fail(cat("exit status ", status, " is not 0, 1, 2 or 75"));
    }
    return CoordinatorMessage(EndMessage{static_cast<int>((*numbers)[0])});
  }
  return fail(cat("unknown message ", shown(lines[0])));
}

}  // namespace

std::string one_line(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line.empty() ? std::string("unknown failure") : line;
}

std::string render_rank_message(const RankMessage& message) {
  if (const auto* hello = std::get_if<HelloMessage>(&message)) {
    const ExplorationPlan& p = hello->plan;
    return cat("hello ", hello->workers, " ", hello->work_count, " ", space_kind_name(p.space.kind),
               " ", p.space.k, " ", p.space.bound, " ", search_kind_name(p.search), " ",
               p.max_nodes, " ", p.sample, " ", p.part, " ", p.parts, "\n");
  }
  if (const auto* done = std::get_if<DoneMessage>(&message)) {
    std::string text = cat("done ", done->outcomes.size(), "\n");
    for (const PositionedOutcome& o : done->outcomes) {
      text += cat(o.position, " ", kind_word(o.outcome.kind), " ", o.outcome.nodes, " ",
                  o.microseconds);
      for (std::uint64_t r : o.outcome.residues) text += cat(" ", r);
      text += '\n';
    }
    return text;
  }
  if (std::holds_alternative<MoreMessage>(message)) return "more\n";
  if (std::holds_alternative<BeatMessage>(message)) return "beat\n";
  if (std::holds_alternative<StopMessage>(message)) return "stop\n";
  return cat("fail ", one_line(std::get<FailMessage>(message).text), "\n");
}

std::string render_coordinator_message(const CoordinatorMessage& message) {
  if (const auto* chunk = std::get_if<ChunkMessage>(&message)) {
    return cat("chunk ", chunk->begin, " ", chunk->count, "\n");
  }
  if (std::holds_alternative<HaltMessage>(message)) return "halt\n";
  return cat("end ", std::get<EndMessage>(message).status, "\n");
}

Result<RankMessage> parse_rank_message(std::string_view text) {
  auto lines = split_lines(text);
  if (!lines) return std::move(lines).take_error();
  return parse_rank_lines(*lines);
}

Result<CoordinatorMessage> parse_coordinator_message(std::string_view text) {
  auto lines = split_lines(text);
  if (!lines) return std::move(lines).take_error();
  return parse_coordinator_lines(*lines);
}

}  // namespace tilvane
