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
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_output.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCaseRoot = fs::path(TILVANE_SOURCE_DIR) / "tests" / "e2e";

std::string read_whole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string read_optional(const fs::path& path) {
  return fs::exists(path) ? read_whole(path) : std::string();
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
  const std::string content = read_whole(path);
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

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;  // the exit status, or 128 plus the signal that ended it
};

enum class StdoutTarget { Pipe, Closed, Full };

// Runs the program in dir and collects both streams until it ends; the two
// pipes are drained together so that neither can fill and stall the child.
Outcome run_program(const fs::path& dir, const std::vector<std::string>& argv_texts,
                    StdoutTarget target) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) {
    ADD_FAILURE() << "pipe: " << errno;
    return {};
  }
  std::vector<char*> argv;
  for (const std::string& text : argv_texts) argv.push_back(const_cast<char*>(text.c_str()));
  argv.push_back(nullptr);
  const std::string dir_text = dir.string();

  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(dir_text.c_str()) != 0) ::_exit(126);
    if (target == StdoutTarget::Pipe) {
      ::dup2(out_pipe[1], STDOUT_FILENO);
    } else if (target == StdoutTarget::Full) {
      const int full = ::open("/dev/full", O_WRONLY);
      if (full < 0) ::_exit(126);
      ::dup2(full, STDOUT_FILENO);
      ::close(full);
    } else {
      ::close(STDOUT_FILENO);
    }
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[0]);
    ::close(err_pipe[1]);
    ::execv(TILVANE_BINARY, argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  Outcome outcome;
  tilvane::testing::drain_streams(out_pipe[0], err_pipe[0], outcome.out, outcome.err);
  int wait_status = 0;
  while (::waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
  }
  outcome.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  return outcome;
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

  const std::string stdout_to = trimmed(read_optional(dir / "stdout_to"));
  StdoutTarget target = StdoutTarget::Pipe;
  if (stdout_to == "closed") {
    target = StdoutTarget::Closed;
  } else if (stdout_to == "full") {
    target = StdoutTarget::Full;
  } else {
    ASSERT_TRUE(stdout_to.empty()) << "stdout_to: " << stdout_to;
  }

  std::vector<std::string> argv = {"tilvane"};
  if (fs::exists(dir / "program")) {
    const std::string program = read_whole(dir / "program");
    argv[0] = unescape(program.substr(0, program.find('\n')));
  }
  ASSERT_TRUE(fs::exists(dir / "args")) << dir << " has no args file";
  for (std::string& arg : read_arguments(dir / "args")) argv.push_back(std::move(arg));
  ASSERT_TRUE(fs::exists(dir / "status")) << dir << " has no status file";
  const int expected_status = std::stoi(read_whole(dir / "status"));

  const Outcome outcome = run_program(dir, argv, target);
  EXPECT_EQ(outcome.status, expected_status);
  if (target == StdoutTarget::Pipe) {
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
