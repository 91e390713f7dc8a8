// Fuzz target for the command line: `run` over an argument list. The input is
// split at NUL bytes into at most six arguments, element 0 being the program
// name. So that no input starts a census or opens a file outside its reach,
// the target runs in a fresh folder of its own holding a few candidate files,
// skips inputs whose second argument names a census mode, and skips paths
// with a slash. What `run` returns is checked against the argument grammar:
// the UTF-8 refusal, the usage text, the budget messages, the file messages,
// and the rule that standard output gets a PASS line only on success.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/quoted.h"
#include "base/text_format.h"
#include "fuzz_check.h"
#include "reference_text.h"
#include "tilvane/modes.h"
#include "tilvane/run.h"

namespace tilvane::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMostArguments = 6;

// The files of the target's folder, by name, and what checking each gives.
constexpr std::string_view kCovering = "covering";  // passes with 54 nodes
constexpr std::string_view kReducible = "reducible";
constexpr std::string_view kEmpty = "empty";
constexpr std::string_view kNotUtf8 = "latin1";

fs::path sandbox;

void remove_sandbox() {
  std::error_code ignored;
  fs::remove_all(sandbox, ignored);
}

void write_file(std::string_view name, std::string_view content) {
  std::ofstream(std::string(name), std::ios::binary) << content;
}

std::string describe(const std::vector<std::string_view>& args) {
  std::string out;
  for (std::string_view a : args) out += " [" + printable(a) + "]";
  return out;
}

}  // namespace
}  // namespace tilvane::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace tilvane::fuzz;
  std::string pattern = (fs::temp_directory_path() / "tilvane-fuzz-run-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr || ::chdir(pattern.c_str()) != 0) {
    std::perror("fuzz_run: cannot make its folder");
    std::abort();
  }
  sandbox = pattern;
  std::atexit(remove_sandbox);
  write_file(kCovering, "5\n2 0\n3 0\n4 1\n6 5\n12 7\n");
  write_file(kReducible, "6\n2 0\n3 0\n4 1\n6 5\n8 3\n12 7\n");
  write_file(kEmpty, "");
  write_file(kNotUtf8, "5\n2 0\n3 0\n4 1\n6 5\n12 7\n\xe9\n");
  ::mkdir("folder", 0755);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tilvane;
  using namespace tilvane::fuzz;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // An empty input is the empty argument list.
  std::vector<std::string_view> args;
  for (std::size_t start = 0; !input.empty() && start <= input.size();) {
    if (args.size() == kMostArguments) return 0;
    const std::size_t end = std::min(input.find('\0', start), input.size());
    args.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  if (args.size() >= 2 &&
      (find_census_mode(args[1]) != nullptr || args[1].find('/') != std::string_view::npos)) {
    return 0;
  }

  std::ostringstream out;
  const Status status = run(args, out);
  const std::string shown =
      describe(args) + "\nerror: " + printable(status.error()) + "\nout: " + printable(out.str());

  // Standard output carries one PASS line on success and nothing otherwise.
  if (status) {
    FUZZ_REQUIRE(out.str().starts_with("PASS: ") && out.str().ends_with(")\n") &&
                     out.str().find('\n') == out.str().size() - 1,
                 shown);
  } else {
    FUZZ_REQUIRE(out.str().empty(), shown);
    FUZZ_REQUIRE(!status.error().empty() && !status.error().ends_with("\n") &&
                     !status.error().ends_with("."),
                 shown);
  }

  // Arguments that are not UTF-8 are refused first, the first one named.
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!decode_strict_utf8(args[i])) {
      FUZZ_REQUIRE(status.error() == cat("argument ", i, " is not valid UTF-8"), shown);
      return 0;
    }
  }

  // Two shapes only: P X and P X --max-nodes N.
  const std::string_view program = args.empty() ? "tilvane" : args[0];
  if (!(args.size() == 2 || (args.size() == 4 && args[2] == "--max-nodes"))) {
    FUZZ_REQUIRE(status.error() == usage_text(program), shown);
    FUZZ_REQUIRE(status.error().starts_with(cat("usage: ", program, " <candidate.txt>")), shown);
    return 0;
  }
  std::uint64_t budget = kDefaultMaxNodes;
  if (args.size() == 4) {
    const auto n = reference_decimal(args[3]);
    if (!n) {
      FUZZ_REQUIRE(status.error() == "invalid search-node budget: " + quoted(args[3]), shown);
      return 0;
    }
    if (*n == 0) {
      FUZZ_REQUIRE(status.error() == "search-node budget must be positive", shown);
      return 0;
    }
    budget = *n;
  }

  // Below here the path is checked; messages never show it raw.
  const std::string_view path = args[1];
  for (char c : status.error()) FUZZ_REQUIRE(static_cast<unsigned char>(c) >= 0x20, shown);
  if (path == kCovering) {
    if (budget >= 54) {
      FUZZ_REQUIRE(status && out.str() ==
                                 "PASS: 5 distinct moduli; displayed classes cover period 12; "
                                 "every one-modulus deletion is non-covering (54 exhaustive DFS "
                                 "nodes)\n",
                   shown);
    } else {
      FUZZ_REQUIRE(!status && status.error().starts_with("irreducibility "), shown);
    }
  } else if (path == kReducible) {
    FUZZ_REQUIRE(!status && (status.error().starts_with("set is reducible: ") ||
                             status.error().starts_with("irreducibility ")),
                 shown);
  } else if (path == kEmpty) {
    FUZZ_REQUIRE(status.error() == "empty candidate: expected k", shown);
  } else if (path == kNotUtf8) {
    FUZZ_REQUIRE(status.error() ==
                     "cannot read candidate \"latin1\": stream did not contain "
                     "valid UTF-8",
                 shown);
  } else {
    // Nothing else in the folder is a readable file: a missing file, the
    // folder itself, its parent or its subfolder.
    FUZZ_REQUIRE(
        !status && status.error().starts_with("cannot read candidate " + quoted(path) + ": "),
        shown);
  }
  return 0;
}
