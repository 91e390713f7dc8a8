// End-to-end runs of the built program. Every folder under tests/e2e is one
// case, run with that folder as the current directory; adding a case is
// adding a folder. A case folder holds:
//   args     the arguments after the program name, one per line (every
//            argument ends with a line feed, so an empty file means none and
//            a lone line feed one empty argument); "\\" stands for a
//            backslash and "\xhh" for the byte hh, so arguments may hold
//            bytes that are not UTF-8
//   program  optional: the program name (element 0), same escapes, first line
//            only; "tilvane" when absent
//   stdout   expected standard output, byte for byte; empty when absent
//   stderr   expected standard error, byte for byte; empty when absent
//   status   expected exit status, a decimal number
//   build    optional: "full" or "reduced", the only configuration that runs
//            the case
//   stdout_to optional: "closed" runs the program with standard output
//            closed, "full" with it on /dev/full; standard output is then not
//            compared
// plus whatever files the arguments name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "program_run.h"
#include "test_files.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCaseRoot = fs::path(TILVANE_SOURCE_DIR) / "tests" / "e2e";

using tilvane::testing::read_file;

std::string read_optional(const fs::path& path) {
  return fs::exists(path) ? read_file(path) : std::string();
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Undoes the two escapes of the args and program files.
std::string unescape(const std::string& line) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (line[i] == '\\' && i + 3 < line.size() && line[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += line[i];
    }
  }
  return out;
}

std::vector<std::string> read_arguments(const fs::path& path) {
  const std::string content = read_file(path);
  std::vector<std::string> args;
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      ADD_FAILURE() << path << ": the last argument lacks its line feed";
      break;
    }
    args.push_back(unescape(content.substr(start, end - start)));
    start = end + 1;
  }
  return args;
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kCaseRoot)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class E2e : public testing::TestWithParam<std::string> {};

TEST_P(E2e, OutputAndStatusMatchTheCase) {
  const fs::path dir = kCaseRoot / GetParam();
  const std::string build = trimmed(read_optional(dir / "build"));
#if TILVANE_REDUCED
  if (build == "full") GTEST_SKIP() << "full program only";
#else
  if (build == "reduced") GTEST_SKIP() << "reduced program only";
#endif
  ASSERT_TRUE(build.empty() || build == "full" || build == "reduced") << "build: " << build;

  tilvane::testing::ProgramOptions run;
  run.dir = dir.string();
  const std::string stdout_to = trimmed(read_optional(dir / "stdout_to"));
  if (stdout_to == "closed") {
    run.out.kind = tilvane::testing::Sink::Closed;
  } else if (stdout_to == "full") {
    run.out.kind = tilvane::testing::Sink::DevFull;
  } else {
    ASSERT_TRUE(stdout_to.empty()) << "stdout_to: " << stdout_to;
  }

  if (fs::exists(dir / "program")) {
    const std::string program = read_file(dir / "program");
    run.program_name = unescape(program.substr(0, program.find('\n')));
  }
  ASSERT_TRUE(fs::exists(dir / "args")) << dir << " has no args file";
  run.args = read_arguments(dir / "args");
  ASSERT_TRUE(fs::exists(dir / "status")) << dir << " has no status file";
  const int expected_status = std::stoi(read_file(dir / "status"));

  const tilvane::testing::ProgramOutcome outcome = tilvane::testing::run_program(run);
  EXPECT_EQ(outcome.status, expected_status);
  if (run.out.kind == tilvane::testing::Sink::Pipe) {
    EXPECT_EQ(outcome.out, read_optional(dir / "stdout"));
  }
  EXPECT_EQ(outcome.err, read_optional(dir / "stderr"));
}

std::string test_name(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
      '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, E2e, testing::ValuesIn(case_names()), test_name);

}  // namespace
