// The candidate check: every validation message in its order of precedence,
// reading files, and what check_candidate writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "cli/read_file.h"
#include "tilvane/candidate_file.h"

namespace tilvane {
namespace {

namespace fs = std::filesystem;
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

TEST(ParseCandidate, ReportsTheFirstFaultInReadingOrder) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", "empty candidate: expected k"},
      {" \n\n\t \u3000\n", "empty candidate: expected k"},
      {"\ufeff2 2 0 3 0", R"(invalid size k: "\u{feff}2")"},
      {"0", "k must be positive"},
      {"+0 2 0", "k must be positive"},
      {"-1", R"(invalid size k: "-1")"},
      {"5.0", R"(invalid size k: "5.0")"},
      {"99999999999999999999", R"(invalid size k: "99999999999999999999")"},
      // The limit is checked before any row is read.
      {"129", "k=129 exceeds checker limit 128"},
      {"18446744073709551615 2 0", "k=18446744073709551615 exceeds checker limit 128"},
      {"3 2 0 3 0", "missing modulus on row 3"},
      {"2 2 0 3", "missing residue on row 2"},
      // Both tokens are taken before either is read as a number.
      {"1 x", "missing residue on row 1"},
      {"1 x y", R"(invalid modulus on row 1: "x")"},
      {"1 18446744073709551616 0", R"(invalid modulus on row 1: "18446744073709551616")"},
      {"2 2 0 3 +-1", R"(invalid residue on row 2: "+-1")"},
      {"1 1 x", R"(invalid residue on row 1: "x")"},
      {"1 1 0", "modulus on row 1 must exceed 1"},
      {"2 2 0 0 0", "modulus on row 2 must exceed 1"},
      {"1 0 5", "modulus on row 1 must exceed 1"},
      {"1 6 6", "residue 6 on row 1 is not canonical modulo 6"},
      {"1 2 18446744073709551615",
       "residue 18446744073709551615 on row 1 is not canonical modulo 2"},
      // The canonical check comes before the order check.
      {"2 12 0 6 6", "residue 6 on row 2 is not canonical modulo 6"},
      {"2 4 1 4 3", "moduli must be strictly increasing: 4 then 4"},
      {"2 6 0 4 1", "moduli must be strictly increasing: 6 then 4"},
      {"3 2 0 6 1 5 1", "moduli must be strictly increasing: 6 then 5"},
      {"1 2 0 3", R"(unexpected trailing token: "3")"},
      {"1 2 0\n\u00e9\u0301 x", "unexpected trailing token: \"\u00e9\\u{301}\""},
      // Accepted forms.
      {"1 2 1", "ok 1/2"},
      {"+3 002 +0 3 2 18446744073709551615 18446744073709551614",
       "ok 0/2 2/3 18446744073709551614/18446744073709551615"},
      {"\n 5\u00a02\u20000\u20283\u30000\u00854\t1\r\n6\v5\f12\u205f7\u202f\n",
       "ok 0/2 0/3 1/4 5/6 7/12"},
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

// A temporary folder for files the tests write, removed afterwards.
class CandidateFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) /
           ("tilvane_candidate_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  fs::path dir_;
};

TEST_F(CandidateFiles, ReadingDescribesOperatingSystemAndEncodingErrors) {
  EXPECT_EQ(read_text_file((dir_ / "absent.txt").string()).error(),
            "No such file or directory (os error 2)");
  EXPECT_EQ(read_text_file(dir_.string()).error(), "Is a directory (os error 21)");
  EXPECT_EQ(read_text_file(write("bad.txt", "5 \xc0\xaf")).error(),
            "stream did not contain valid UTF-8");
  EXPECT_EQ(read_text_file("a\0b"s).error(), "path contains a NUL character");

  const auto empty = read_text_file(write("empty.txt", ""));
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(*empty, "");
  const std::string content = "1\n2 0\0\n"s;
  const auto read = read_text_file(write("nul.txt", content));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(*read, content);
}

TEST(ReadFile, ReadsFilesWhoseSizeIsNotKnownInAdvance) {
  // /proc files report size 0 but have content.
  const auto status = read_text_file("/proc/self/status");
  ASSERT_TRUE(status.ok()) << status.error();
  EXPECT_NE(status->find("Name:"), std::string::npos);
}

TEST_F(CandidateFiles, CheckWritesThePassLineOnlyOnSuccess) {
  const std::string good = write("good.txt", "5\n2 0\n3 0\n4 1\n6 5\n12 7\n");
  std::ostringstream out;
  const Status ok = check_candidate(good, 50000000, out);
  ASSERT_TRUE(ok.ok()) << ok.error();
  EXPECT_EQ(out.str(),
            "PASS: 5 distinct moduli; displayed classes cover period 12; every one-modulus "
            "deletion is non-covering (54 exhaustive DFS nodes)\n");

  struct Case {
    std::string content;
    std::uint64_t budget;
    std::string expected;
  };
  const std::vector<Case> failures = {
      {"1 6 6", 100, "residue 6 on row 1 is not canonical modulo 6"},
      {"2 2 0 20000001 0", 100, "common period 40000002 exceeds checker limit 20000000"},
      {"5 2 0 3 0 4 1 6 5 12 6", 100, "the displayed congruences do not cover residue 7 modulo 12"},
      {"5 2 0 3 0 4 1 6 5 12 7", 53, "irreducibility undecided after 53 search nodes; no PASS"},
  };
  for (const Case& c : failures) {
    std::ostringstream silent;
    const Status s = check_candidate(write("c.txt", c.content), c.budget, silent);
    ASSERT_FALSE(s.ok()) << c.content;
    EXPECT_EQ(s.error(), c.expected);
    EXPECT_EQ(silent.str(), "");
  }

  std::ostringstream silent;
  const std::string missing = (dir_ / "missing.txt").string();
  EXPECT_EQ(check_candidate(missing, 100, silent).error(),
            "cannot read candidate \"" + missing + "\": No such file or directory (os error 2)");
}

class HeavyCandidateFiles : public CandidateFiles {};

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
