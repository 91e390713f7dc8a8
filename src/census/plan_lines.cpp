#include "census/plan_lines.h"

#include "base/text_format.h"
#include "base/text_scan.h"

namespace tilvane {

bool KeyedLines::next_is(std::string_view key) const {
  return rest_.starts_with(prefix_) && rest_.substr(prefix_.size()).starts_with(cat(key, " "));
}

std::optional<std::vector<std::string_view>> KeyedLines::take(std::string_view key) {
  if (!next_is(key)) return std::nullopt;
  const std::size_t start = prefix_.size() + key.size() + 1;
  const std::size_t feed = rest_.find('\n');
  if (feed == std::string_view::npos) return std::nullopt;
  std::string_view line = rest_.substr(start, feed - start);
  rest_.remove_prefix(feed + 1);
  std::vector<std::string_view> words;
  for (;;) {
    const std::size_t blank = line.find(' ');
    words.push_back(line.substr(0, blank));
    if (blank == std::string_view::npos) return words;
    line.remove_prefix(blank + 1);
  }
}

Result<std::vector<std::uint64_t>> KeyedLines::numbers(std::string_view key, std::size_t count) {
  const auto words = take(key);
  std::vector<std::uint64_t> values;
  if (words && (count == 0 || words->size() == count)) {
    for (std::string_view w : *words) {
      const auto value = parse_unsigned_decimal(w);
      if (!value) break;
      values.push_back(*value);
    }
    if (values.size() == words->size()) return values;
  }
  return fail(damaged(key));
}

Result<std::uint64_t> KeyedLines::number(std::string_view key) {
  auto values = numbers(key, 1);
  if (!values) return std::move(values).take_error();
  return (*values)[0];
}

Result<std::string> KeyedLines::word(std::string_view key) {
  const auto words = take(key);
  if (!words || words->size() != 1) return fail(damaged(key));
  return std::string((*words)[0]);
}

std::string KeyedLines::damaged(std::string_view key) const {
  return cat(what_, " is damaged: bad or missing line ", key);
}

std::string render_plan_lines(std::string_view prefix, std::string_view program_version,
                              const ExplorationPlan& plan, bool always_part) {
  std::string text =
      cat(prefix, "version ", program_version, "\n", prefix, "space ",
          space_kind_name(plan.space.kind), "\n", prefix, "size ", plan.space.k, "\n", prefix,
          "max-lcm ", plan.space.bound, "\n", prefix, "search ", search_kind_name(plan.search),
          "\n", prefix, "max-nodes ", plan.max_nodes, "\n", prefix, "sample ", plan.sample, "\n");
  if (always_part || plan.parts > 1) text += cat(prefix, "part ", plan.part, " ", plan.parts, "\n");
  return text;
}

Status read_plan_lines(KeyedLines& lines, bool part_required, std::string& program_version,
                       ExplorationPlan& plan) {
  auto version = lines.word("version");
  if (!version) return std::move(version).take_error();
  program_version = *version;
  auto space = lines.word("space");
  if (!space) return std::move(space).take_error();
  const auto kind = parse_space_kind(*space);
  if (!kind) return fail(lines.damaged("space"));
  plan.space.kind = *kind;
  auto size = lines.number("size");
  if (!size) return std::move(size).take_error();
  plan.space.k = static_cast<std::size_t>(*size);
  auto bound = lines.number("max-lcm");
  if (!bound) return std::move(bound).take_error();
  plan.space.bound = *bound;
  auto search = lines.word("search");
  if (!search) return std::move(search).take_error();
  if (*search != "decide" && *search != "exact") return fail(lines.damaged("search"));
  plan.search = *search == "decide" ? SearchKind::Decide : SearchKind::Exact;
  auto max_nodes = lines.number("max-nodes");
  if (!max_nodes) return std::move(max_nodes).take_error();
  plan.max_nodes = *max_nodes;
  auto sample = lines.number("sample");
  if (!sample) return std::move(sample).take_error();
  plan.sample = *sample;
  plan.part = plan.parts = 1;
  if (part_required || lines.next_is("part")) {
    auto part = lines.numbers("part", 2);
    if (!part) return std::move(part).take_error();
    if ((*part)[0] == 0 || (*part)[0] > (*part)[1]) return fail(lines.damaged("part"));
    plan.part = (*part)[0];
    plan.parts = (*part)[1];
  }
  return {};
}

}  // namespace tilvane
