#include "census/part_list.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/checksum.h"
#include "base/text_format.h"
#include "base/text_scan.h"
#include "census/plan_lines.h"
#include "census/sample_list.h"
#include "census/work_list.h"

namespace tilvane {
namespace {

constexpr std::string_view kChecksumKey = "# checksum ";

std::string words_of(std::span<const std::uint64_t> numbers) {
  std::string text;
  for (std::uint64_t n : numbers) text += cat(" ", n);
  return text;
}

std::string describe_part(const ExplorationPlan& plan) {
  return cat("part ", plan.part, " of ", plan.parts);
}

// The files two parts came from, for a message that names both.
std::string files_of(const PartList& a, const PartList& b) {
  if (a.source.empty() || b.source.empty()) return "";
  return cat(" (", a.source, " and ", b.source, ")");
}

}  // namespace

std::string render_part_list(const PartList& list) {
  const ExplorationPlan& plan = list.plan;
  const ExplorationTally& tally = list.tally;
  const PartRange range = part_range(list.whole_count, plan.part, plan.parts);
  std::string text =
      cat("# tilvane-census ", describe_part(plan), ": the irreducible covering sets of positions ",
          range.begin, " to ", range.end, " (exclusive) of ", list.whole_count, " only\n");
  text +=
      cat(render_plan_lines("# ", list.program_version, plan, true), "# work ", list.whole_count,
          "\n# decided ", tally.decided, "\n# dropped ", tally.dropped, "\n# nodes ", tally.nodes,
          "\n# elapsed-ms ", list.elapsed_ms, "\n# found ", tally.found.size(), "\n");
  for (const ModuliSet& set : tally.undecided) text += cat("# undecided", words_of(set), "\n");
  for (const FoundSet& set : tally.found) text += render_set_line(set.moduli);
  text += cat(kChecksumKey, checksum_hex(text), "\n");
  return text;
}

Result<PartList> parse_part_list(std::string_view text) {
  if (text.starts_with(kSampleListStart)) {
    return fail(
        "not a part list: it is the list of a sample (--every), which no merge makes "
        "whole");
  }
  if (!text.starts_with("# tilvane-census part ")) {
    return fail("not a part list: it does not start with \"# tilvane-census part\"");
  }
  const std::size_t at = text.rfind(cat("\n", kChecksumKey));
  if (at == std::string_view::npos) return fail("part list is damaged: no checksum");
  const std::string_view body = text.substr(0, at + 1);
  if (text.substr(at + 1 + kChecksumKey.size()) != cat(checksum_hex(body), "\n")) {
    return fail("part list is damaged: checksum does not match");
  }
  KeyedLines header(body.substr(body.find('\n') + 1), "# ", "part list");
  PartList list;
  ExplorationPlan& plan = list.plan;
  if (auto read = read_plan_lines(header, true, list.program_version, plan); !read) {
    return std::move(read).take_error();
  }
  std::uint64_t* fields[] = {&list.whole_count, &list.tally.decided, &list.tally.dropped,
                             &list.tally.nodes, &list.elapsed_ms};
  const std::string_view keys[] = {"work", "decided", "dropped", "nodes", "elapsed-ms"};
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    auto value = header.number(keys[i]);
    if (!value) return std::move(value).take_error();
    *fields[i] = *value;
  }
  auto found = header.number("found");
  if (!found) return std::move(found).take_error();
  while (header.next_is("undecided")) {
    auto set = header.numbers("undecided", plan.space.k);
    if (!set) return std::move(set).take_error();
    list.tally.undecided.push_back(std::move(*set));
  }
  std::string_view rest = header.rest();
  while (!rest.empty()) {
    const std::size_t feed = rest.find('\n');
    const std::string_view line = rest.substr(0, feed);
    rest.remove_prefix(feed + 1);
    FoundSet set;
    TokenReader tokens(line);
    while (auto token = tokens.next()) {
      const auto value = parse_unsigned_decimal(*token);
      if (!value) return fail("part list is damaged: a set line holds more than numbers");
      set.moduli.push_back(*value);
    }
    if (set.moduli.size() != plan.space.k || render_set_line(set.moduli) != cat(line, "\n")) {
      return fail(cat("part list is damaged: bad set line ", list.tally.found.size() + 1));
    }
    list.tally.found.push_back(std::move(set));
  }
  const PartRange range = part_range(list.whole_count, plan.part, plan.parts);
  if (list.tally.found.size() != *found || list.tally.decided != range.end - range.begin ||
      list.tally.dropped > list.tally.decided ||
      list.tally.found.size() + list.tally.undecided.size() > list.tally.decided) {
    return fail("part list is damaged: its counts disagree");
  }
  list.tally.searched = list.tally.decided - list.tally.dropped;
  return list;
}

Result<PartList> merge_part_lists(std::span<PartList> parts) {
  if (parts.empty()) return fail("no part lists to merge");
  std::sort(parts.begin(), parts.end(),
            [](const PartList& a, const PartList& b) { return a.plan.part < b.plan.part; });
  const PartList& first = parts.front();
  const auto whole_plan = [](ExplorationPlan plan) {
    plan.part = plan.parts = 1;
    return plan;
  };
  PartList whole;
  whole.program_version = first.program_version;
  whole.plan = whole_plan(first.plan);
  whole.whole_count = first.whole_count;
  for (std::uint64_t i = 0; i < parts.size(); ++i) {
    const PartList& p = parts[i];
    if (p.program_version != first.program_version || !(whole_plan(p.plan) == whole.plan) ||
        p.plan.parts != first.plan.parts || p.whole_count != first.whole_count) {
      return fail(cat(describe_part(p.plan), " belongs to another run than ",
                      describe_part(first.plan), ": ", describe_plan(p.plan), ", version ",
                      p.program_version, ", against ", describe_plan(first.plan), ", version ",
                      first.program_version, files_of(p, first)));
    }
    if (i > 0 && parts[i - 1].plan.part == p.plan.part) {
      return fail(cat(describe_part(p.plan), " is given twice", files_of(parts[i - 1], p)));
    }
  }
  std::uint64_t expected = 1;
  for (const PartList& p : parts) {
    if (p.plan.part != expected) break;
    ++expected;
  }
  if (expected <= first.plan.parts) {
    return fail(cat("part ", expected, " of ", first.plan.parts, " is missing"));
  }
  ExplorationTally& tally = whole.tally;
  for (PartList& p : parts) {
    if (__builtin_add_overflow(tally.nodes, p.tally.nodes, &tally.nodes)) {
      return fail("census node counter overflow");
    }
    tally.decided += p.tally.decided;
    tally.dropped += p.tally.dropped;
    tally.searched += p.tally.searched;
    whole.elapsed_ms += p.elapsed_ms;
    for (FoundSet& set : p.tally.found) tally.found.push_back(std::move(set));
    for (ModuliSet& set : p.tally.undecided) tally.undecided.push_back(std::move(set));
  }
  return whole;
}

}  // namespace tilvane
