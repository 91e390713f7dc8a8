// tilvane-census on one moduli set and the least-LCM scan, end to end: the
// exit statuses, the candidate file of a covering and the proof file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "program_run.h"
#include "test_files.h"

namespace tilvane {
namespace {

using testing::ProgramOutcome;

// Runs in dir, where a run without --proof keeps its checkpoint.
ProgramOutcome census(std::vector<std::string> args, const std::string& dir) {
  testing::ProgramOptions options = testing::with_args(std::move(args));
  options.binary = TILVANE_CENSUS_BINARY;
  options.program_name = "tilvane-census";
  options.dir = dir;
  return testing::run_program(options);
}

ProgramOutcome proof_check(const std::string& file) {
  testing::ProgramOptions check = testing::with_args({file});
  check.binary = TILVANE_PROOF_CHECK_BINARY;
  check.program_name = "tilvane-proof-check";
  return testing::run_program(check);
}

class ModuliDriver : public testing::ScratchDir {
 protected:
  ProgramOutcome census(std::vector<std::string> args) const {
    return tilvane::census(std::move(args), dir_.string());
  }
};

TEST_F(ModuliDriver, ExitStatusesTellCoveringRefutationBudgetAndMisuse) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;
  };
  const Case cases[] = {
      {{"--moduli", "2 3 4 6 12"}, 10, "5\n2 "},
      {{"--divisors-of", "60", "--min-modulus", "3"}, 20, "no covering\n"},
      {{"--moduli", "3,5,7"}, 20, "no covering\n"},
      {{"--divisors-of", "240", "--min-modulus", "4", "--max-nodes", "5"}, 2, ""},
      {{"--moduli", "2 3 3"}, 1, ""},
      {{"--divisors-of", "60"}, 1, ""},
      {{"--moduli", "2 3", "--size", "4"}, 1, ""},
      {{"--least-lcm", "--moduli", "2 3"}, 1, ""},
      {{"--least-lcm", "--min-modulus", "3", "--checkpoint", "c"}, 1, ""},
      {{"--moduli", "2 3 4 6 12", "--threads", "3", "--checkpoint", "none"}, 10, "5\n2 "},
      {{"--least-lcm", "--min-modulus", "3", "--max-lcm", "100"}, 20, "no covering with LCM"},
  };
  for (const Case& c : cases) {
    const ProgramOutcome run = census(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[0] << " " << run.err;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
  }
}

TEST_F(ModuliDriver, LeastLcmWritesTheCoveringAndAProofTheCheckerVerifies) {
  const ProgramOutcome run =
      census({"--least-lcm", "--min-modulus", "3", "--proof", path("proof.txt")});
  ASSERT_EQ(run.status, 10) << run.err;
  EXPECT_NE(run.out.find("least LCM for least modulus 3: 120;"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("refuted by search: 24 36 48 60 72 84 90 96 108\n"), std::string::npos);
  const ProgramOutcome checked = proof_check(path("proof.txt"));
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_EQ(checked.out.rfind("VERIFIED: 9 sets refuted by traces", 0), 0u) << checked.out;
}

TEST_F(ModuliDriver, ModuliFileIsReadAndAProofOfACoveringIsNotWritten) {
  testing::write_file(path("moduli.txt"), "2 3 4\n6 12\n");
  const ProgramOutcome run =
      census({"--moduli-file", path("moduli.txt"), "--proof", path("proof.txt")});
  EXPECT_EQ(run.status, 10) << run.err;
  EXPECT_FALSE(std::filesystem::exists(path("proof.txt")));
}

TEST_F(ModuliDriver, AProofIsTheSameOnOneOrTwoThreadsAndLeavesNothingBehind) {
  std::vector<std::string> proofs;
  for (const char* threads : {"1", "2"}) {
    const std::string proof = path(cat("proof-", threads));
    const ProgramOutcome run = census(
        {"--divisors-of", "336", "--min-modulus", "4", "--threads", threads, "--proof", proof});
    ASSERT_EQ(run.status, 20) << run.err;
    EXPECT_NE(run.err.find("subproblems on " + std::string(threads)), std::string::npos) << run.err;
    const ProgramOutcome checked = proof_check(proof);
    EXPECT_EQ(checked.status, 0) << checked.out;
    proofs.push_back(testing::read_file(proof));
  }
  EXPECT_EQ(proofs[0], proofs[1]);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"proof-1", "proof-2"}));
}

}  // namespace
}  // namespace tilvane
