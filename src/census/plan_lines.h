// The "key value..." lines that head a census run's files: its checkpoint
// (lines "key ...") and a part's list (lines "# key ..."). Both begin with
// the same lines naming the run (the program version and the plan), written
// and read here, and then carry lines of their own, read with the same
// reader in a fixed order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "census/exploration.h"

namespace tilvane {

// Reads the lines of a text one after another, each "PREFIX key word...".
// Fails with "{what} is damaged: bad or missing line {key}".
class KeyedLines {
 public:
  KeyedLines(std::string_view body, std::string_view prefix, std::string_view what)
      : rest_(body), prefix_(prefix), what_(what) {}

  // The text after the lines read so far.
  std::string_view rest() const { return rest_; }
  bool next_is(std::string_view key) const;

  // The words after the key, or nothing (and nothing read) when the next
  // line has another key.
  std::optional<std::vector<std::string_view>> take(std::string_view key);
  // count words, each a decimal number; any count when count is 0.
  Result<std::vector<std::uint64_t>> numbers(std::string_view key, std::size_t count);
  Result<std::uint64_t> number(std::string_view key);
  Result<std::string> word(std::string_view key);
  std::string damaged(std::string_view key) const;

 private:
  std::string_view rest_;
  std::string_view prefix_;
  std::string_view what_;
};

// The run's lines: version, space, size, max-lcm, search, max-nodes, sample,
// and "part I N" when always_part is set or the plan has several parts.
std::string render_plan_lines(std::string_view prefix, std::string_view program_version,
                              const ExplorationPlan& plan, bool always_part);

// Reads the lines that render_plan_lines wrote into version and plan. The
// part line is required when part_required is set; without it the plan is
// part 1 of 1.
Status read_plan_lines(KeyedLines& lines, bool part_required, std::string& program_version,
                       ExplorationPlan& plan);

}  // namespace tilvane
