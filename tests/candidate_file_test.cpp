// The candidate check: the validation messages in their order of precedence
// that the folders of tests/e2e do not run, reading files, and reading a huge
// one in linear time.
#include "tilvane/candidate_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "cli/read_file.h"
#include "test_files.h"

namespace tilvane {
namespace {

using namespace std::string_literals;

std::string outcome_of(std::string_view text) {
  const auto parsed = parse_candidate(text);
  if (!parsed) return parsed.error();
  std::string rows = "ok";
  for (const Congruence& c : *parsed) {
    rows += cat(" ", c.residue, "/", c.modulus);
  }
  return rows;
}

// The cases here are those the folders of tests/e2e do not already run
// through the program.
TEST(ParseCandidate, ReportsTheFirstFaultInReadingOrder) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"5.0", R"(invalid size k: "5.0")"},
      {"2 2 0 3 +-1", R"(invalid residue on row 2: "+-1")"},
      {"1 2 18446744073709551615",
       "residue 18446744073709551615 on row 1 is not canonical modulo 2"},
      // Each modulus is compared with the one before it, not the first.
      {"3 2 0 6 1 5 1", "moduli must be strictly increasing: 6 then 5"},
      {"1 2 0\n\u00e9\u0301 x", "unexpected trailing token: \"\u00e9\\u{301}\""},
      // Accepted forms.
      {"1 2 1", "ok 1/2"},
      {"+3 002 +0 3 2 18446744073709551615 18446744073709551614",
       "ok 0/2 2/3 18446744073709551614/18446744073709551615"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome_of(c.text), c.expected) << c.text;
}

TEST(ParseCandidate, AcceptsTheLargestSize) {
  std::string text = "128";
  for (int m = 2; m < 130; ++m) text += cat(" ", m, " 1");
  const auto parsed = parse_candidate(text);
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  EXPECT_EQ(parsed->size(), 128u);
  EXPECT_EQ(parsed->back(), (Congruence{129, 1}));
}

TEST(ReadFile, RefusesAPathWithANulCharacter) {
  EXPECT_EQ(read_text_file("a\0b"s).error(), "path contains a NUL character");
}

TEST(ReadFile, ReadsFilesWhoseSizeIsNotKnownInAdvance) {
  // /proc files report size 0 but have content.
  const auto status = read_text_file("/proc/self/status");
  ASSERT_TRUE(status.ok()) << status.error();
  EXPECT_NE(status->find("Name:"), std::string::npos);
}

using HeavyCandidateFiles = testing::ScratchDir;

// Reading, validating and tokenising are linear: a candidate buried in a
// hundred megabytes of white space, most of it multi-byte, is read in well
// under the time a quadratic step would need.
TEST_F(HeavyCandidateFiles, HundredMegabytesOfWhiteSpaceAreReadInLinearTime) {
  std::string content;
  content.reserve(100'000'000 + 64);
  const std::string blanks = " \n\t\u3000\u00a0\u2028\r\n";
  while (content.size() < 100'000'000) content += blanks;
  content += "5 2 0 3 0 4 1 6 5 12 7";
  content.append(1000, ' ');
  const std::string path = write("huge.txt", content);
  content.clear();
  content.shrink_to_fit();

  const auto start = std::chrono::steady_clock::now();
  std::ostringstream out;
  const Status s = check_candidate(path, 50000000, out);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(s.ok()) << s.error();
  EXPECT_NE(out.str().find("(54 exhaustive DFS nodes)"), std::string::npos);
  EXPECT_LT(seconds, 20.0);
  std::printf("100 MB of white space checked in %.2f s\n", seconds);
}

}  // namespace
}  // namespace tilvane
