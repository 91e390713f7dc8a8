// The trace checker accepts the traces the search writes and rejects
// damaged and forged ones, naming the first bad line.
#include "proof_check/proof_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "census_tool/moduli_options.h"
#include "engine/moduli_decision.h"

namespace tilvane {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// A genuine refutation of D(60, 3).
std::string genuine_trace(const ModuliOptions& options = {}) {
  TraceText trace;
  const auto d = decide_moduli(divisors_at_least(60, 3), UINT64_MAX, options, &trace);
  EXPECT_EQ(d->outcome, ModuliOutcome::NoCovering);
  return trace.text();
}

// The index of the first line starting with prefix.
std::size_t first_line(const std::vector<std::string>& lines, const std::string& prefix) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(prefix, 0) == 0) return i;
  }
  ADD_FAILURE() << "no line " << prefix;
  return 0;
}

TEST(ProofCheck, GenuineTracesAndSettledLinesVerify) {
  const std::string trace = genuine_trace();
  EXPECT_TRUE(check_refutation_file(trace).verified) << check_refutation_file(trace).message;
  // An orbit step at the root (no class assigned yet), and a version 1
  // trace, verify too.
  for (const char* text : {"tilvane-refutation 2\nmoduli 2 3 4\no 3 0 1\nB\nB\nend\n",
                           "tilvane-refutation 1\nmoduli 2 3 4\ns 3\nB\nend\n"}) {
    EXPECT_TRUE(check_refutation_file(text).verified)
        << text << check_refutation_file(text).message;
  }
  const std::string more =
      trace + "subset 3 4 5 6 10 in 3 4 5 6 10 12 15 20 30 60\ndensity 3 5 7\n";
  const ProofCheck check = check_refutation_file(more);
  EXPECT_TRUE(check.verified) << check.message;
  EXPECT_EQ(check.traces, 1u);
  EXPECT_EQ(check.subsets, 1u);
  EXPECT_EQ(check.density, 1u);
}

TEST(ProofCheck, DamagedOrForgedTracesAreRejected) {
  const std::vector<std::string> genuine = lines_of(genuine_trace());
  struct Case {
    const char* what;
    std::string text;
  };
  std::vector<Case> cases;
  {  // a pruning step removed
    auto lines = genuine;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first_line(lines, "B")));
    cases.push_back({"step removed", joined(lines)});
  }
  {  // a branch on a residue that is already covered (0 after s M)
    auto lines = genuine;
    const std::size_t b = first_line(lines, "b ");
    const std::size_t space = lines[b].find(' ', 2);
    lines[b] = "b 0" + lines[b].substr(space);
    cases.push_back({"wrong residue", joined(lines)});
  }
  {  // a branch that leaves out a modulus
    auto lines = genuine;
    const std::size_t b = first_line(lines, "b ");
    lines[b] = lines[b].substr(0, lines[b].rfind(' '));
    cases.push_back({"modulus left out", joined(lines)});
  }
  {  // the orbit step keeps one class too few
    auto lines = genuine;
    const std::size_t o = first_line(lines, "o ");
    lines[o] = lines[o].substr(0, lines[o].rfind(' '));
    cases.push_back({"orbit missed", joined(lines)});
  }
  {  // the unit step of a search without orbit steps keeps one class too few
    ModuliOptions no_orbits;
    no_orbits.orbits = false;
    auto lines = lines_of(genuine_trace(no_orbits));
    const std::size_t u = first_line(lines, "u ");
    lines[u] = lines[u].substr(0, lines[u].rfind(' '));
    cases.push_back({"unit orbit missed", joined(lines)});
  }
  // The units modulo 12 act on the classes of 3 with the orbits {0} and
  // {1, 2}, so "o 3 0 1" is sound (see below) and "o 3 1" is not.
  cases.push_back({"orbit of 0 missed", "tilvane-refutation 2\nmoduli 2 3 4\no 3 1\nB\nend\n"});
  cases.push_back(
      {"orbit step in version 1", "tilvane-refutation 1\nmoduli 2 3 4\no 3 0 1\nB\nB\nend\n"});
  cases.push_back({"orbit step on an assigned modulus",
                   "tilvane-refutation 2\nmoduli 2 3 4\ns 3\no 3 0\nB\nend\n"});
  cases.push_back({"orbit step with a class out of range",
                   "tilvane-refutation 2\nmoduli 2 3 4\no 3 0 1 3\nB\nB\nB\nend\n"});
  cases.push_back({"forged bound", "tilvane-refutation 1\nmoduli 2 3 4\nB\nend\n"});
  cases.push_back({"forged projection", "tilvane-refutation 1\nmoduli 2 3 4\nP\nend\n"});
  cases.push_back({"forged fibre", "tilvane-refutation 1\nmoduli 2 3 4\nf 2 1 3\nB\nend\n"});
  cases.push_back({"translation below root",
                   "tilvane-refutation 1\nmoduli 2 3 4\nb 0 2 3 4\ns 3\nB\nB\nB\nend\n"});
  cases.push_back({"unit step without translation",
                   "tilvane-refutation 1\nmoduli 2 3 4\nu 3 0 1 2\nB\nB\nB\nend\n"});
  cases.push_back({"class branch on an assigned modulus",
                   "tilvane-refutation 1\nmoduli 2 3 4\ns 2\na 2\nB\nB\nend\n"});
  cases.push_back({"missing end", "tilvane-refutation 1\nmoduli 2 3\nb 0 2 3\nB\nB\n"});
  cases.push_back({"covering refuted", "tilvane-refutation 1\nmoduli 2 3 4 6 12\nB\nend\n"});
  cases.push_back({"dense set", "density 2 3 6\n"});
  cases.push_back({"subset of nothing", "subset 2 3 in 2 3 5\n"});
  cases.push_back({"empty", ""});
  for (const Case& c : cases) {
    const ProofCheck check = check_refutation_file(c.text);
    EXPECT_FALSE(check.verified) << c.what;
    EXPECT_FALSE(check.message.empty()) << c.what;
  }
  // The message names the bad line.
  EXPECT_EQ(check_refutation_file("tilvane-refutation 1\nmoduli 2 3 4\nB\nend\n")
                .message.rfind("line 3: ", 0),
            0u);
}

}  // namespace
}  // namespace tilvane
