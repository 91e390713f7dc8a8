// tilvane-census on one moduli set and the least-LCM scan, end to end: the
// exit statuses, the candidate file of a covering and the proof file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "program_run.h"
#include "test_files.h"

namespace tilvane {
namespace {

using testing::ProgramOutcome;

ProgramOutcome census(std::vector<std::string> args) {
  testing::ProgramOptions options = testing::with_args(std::move(args));
  options.binary = TILVANE_CENSUS_BINARY;
  options.program_name = "tilvane-census";
  return testing::run_program(options);
}

using ModuliDriver = testing::ScratchDir;

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
  testing::ProgramOptions check = testing::with_args({path("proof.txt")});
  check.binary = TILVANE_PROOF_CHECK_BINARY;
  check.program_name = "tilvane-proof-check";
  const ProgramOutcome checked = testing::run_program(check);
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

}  // namespace
}  // namespace tilvane
