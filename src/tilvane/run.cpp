#include "tilvane/run.h"

#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "base/os_error.h"
#include "base/quoted.h"
#include "base/text_format.h"
#include "base/text_scan.h"
#include "cli/checked_output.h"
#include "cli/terminal_progress.h"
#include "tilvane/candidate_file.h"
#include "tilvane/modes.h"

namespace tilvane {
namespace {

constexpr std::string_view kDefaultProgramName = "tilvane";
constexpr std::string_view kMaxNodesOption = "--max-nodes";

Result<std::uint64_t> parse_budget(std::string_view text) {
  const auto budget = parse_unsigned_decimal(text);
  if (!budget) return fail(cat("invalid search-node budget: ", quoted(text)));
  if (*budget == 0) return fail("search-node budget must be positive");
  return *budget;
}

}  // namespace

// Two shapes only, P X and P X --max-nodes N. The count and the budget are
// settled before X is looked at, so a bad budget is reported even for a
// census option or a missing file, and no file is opened until then.
Status run(std::span<const std::string_view> args, std::ostream& out, CensusProgress& progress) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!is_valid_utf8(args[i])) return fail(cat("argument ", i, " is not valid UTF-8"));
  }
  const std::string_view program = args.empty() ? kDefaultProgramName : args[0];

  std::uint64_t max_nodes = kDefaultMaxNodes;
  if (args.size() == 4) {
    if (args[2] != kMaxNodesOption) return fail(usage_text(program));
    auto budget = parse_budget(args[3]);
    if (!budget) return std::move(budget).take_error();
    max_nodes = *budget;
  } else if (args.size() != 2) {
    return fail(usage_text(program));
  }

  const std::string_view target = args[1];
  if (const CensusSize* mode = find_census_mode(target)) {
    return run_census_mode(*mode, max_nodes, out, progress);
  }
  return check_candidate(target, max_nodes, out);
}

// Report lines go through a buffer that checks every write, so a report lost
// to a closed standard output or a full disk fails the run instead of ending
// it with status 0. A mode's own failure is reported in preference to a lost
// report line, being the answer to what was asked. SIGPIPE is ignored so that
// a reader that went away is such a write failure, not a silent death.
// Progress is shown only to a person at a terminal; standard error that goes
// to a file or a pipe carries the FAIL line alone. The census finishes its
// progress before it writes, and it is finished once more here, which does
// nothing unless a mode left it showing, before the FAIL line.
int main_entry(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string_view> args(argv, argv + argc);

  CheckedOutputBuffer report_buffer(STDOUT_FILENO);
  std::ostream report(&report_buffer);
  TerminalProgress terminal(STDERR_FILENO);
  CensusProgress& progress = ::isatty(STDERR_FILENO) == 1 ? terminal : no_progress();
  Status status = run(args, report, progress);
  progress.finished();
  report.flush();
  if (status && report_buffer.error_number() != 0) {
    status = fail(cat("cannot write report: ", os_error_description(report_buffer.error_number())));
  }
  if (status) return 0;
  (void)write_all(STDERR_FILENO, cat("FAIL: ", status.error(), "\n"));
  return 1;
}

}  // namespace tilvane
