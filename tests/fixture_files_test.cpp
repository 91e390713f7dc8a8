// The fixture files under fixtures/ against the figures they are known to
// have: digest, lines, strict format, first and last rows, the telling rows
// and the extrema. A regenerated fixture must pass the same checks; a
// fixture not yet present is skipped. A large fixture is kept compressed
// with xz (FILE.txt.xz) and read through `xz -dc`; its digest is that of the
// text.
#include <gtest/gtest.h>
#include <stdio.h>  // popen, pclose

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/fraction.h"
#include "base/text_format.h"
#include "census/aggregate.h"
#include "census/embedded_fixtures.h"
#include "census/fixtures.h"
#include "sha256.h"
#include "test_files.h"

namespace tilvane {
namespace {

struct FixtureFigures {
  std::size_t k;
  std::size_t lines;
  std::string sha256;
  std::vector<std::string> first_rows;
  std::vector<std::string> last_rows;
  std::uint64_t min_largest;
  std::string a_row_with_min_largest;
  std::uint64_t max_largest;
  std::size_t rows_with_max_largest;
  Fraction max_reciprocal_sum;
  std::size_t rows_without_2;
  std::size_t rows_with_min_largest = 4;
};

const std::vector<FixtureFigures>& all_figures() {
  static const std::vector<FixtureFigures> figures = {
      {8,
       65,
       "0a7af35ad87e5d95fce5c711db04815deb29569ee8477d31b8193fb734b6504a",
       {"2 3 4 6 8 9 18 72", "2 3 4 6 8 9 36 72", "2 3 4 6 8 16 32 96"},
       {"2 4 8 12 18 24 36 72", "2 4 8 12 24 32 48 96", "2 4 8 16 24 32 48 96"},
       36,
       "2 3 4 8 9 18 24 36",
       96,
       26,
       {14, 9},
       0},
      {9,
       318,
       "961495900f3d6a4dd9799975a36569691fa10333785e44a96d72b99cae095d07",
       {"2 3 4 5 6 10 15 20 30", "2 3 4 5 6 10 15 20 60", "2 3 4 5 6 10 15 30 60"},
       {"2 4 8 16 32 48 64 96 192", "2 4 9 12 16 18 24 36 48", "2 6 8 9 12 18 24 36 72"},
       30,
       "2 3 4 5 6 10 15 20 30",
       192,
       57,
       {17, 10},
       0},
      {10,
       2102,
       "c755d1144963685f5a675aed4015e60c5670cfbe6eb4eeb6f9491c5b5cf075c7",
       {"2 3 4 5 6 8 10 15 20 40", "2 3 4 5 6 8 10 15 20 120", "2 3 4 5 6 8 10 15 30 40"},
       {"2 6 8 9 12 16 18 36 48 72", "2 6 8 9 12 16 18 36 48 144", "2 6 8 9 12 18 24 36 48 144"},
       30,
       "2 3 4 5 8 10 15 20 24 30",
       384,
       120,
       {109, 60},
       0},
      {11,
       17040,
       "f57c1c3b8d821b23cbf09d64427111758bedc2e6fe01ef9feb36aa14f1947559",
       {"2 3 4 5 6 8 10 15 16 20 80", "2 3 4 5 6 8 10 15 16 20 240", "2 3 4 5 6 8 10 15 16 30 80"},
       {"2 6 8 9 12 18 32 36 48 72 96", "2 6 9 12 16 18 24 36 48 72 144",
        "3 4 6 8 9 12 16 18 24 36 48"},
       36,
       "2 3 4 5 9 10 15 18 20 30 36",
       768,
       247,
       {28, 15},
       1},
      {12,
       186568,
       "abbc55e216472d4e70651b44510677a024aa3501e4c1df6da076bddfe193e64e",
       {"2 3 4 5 6 8 9 10 15 18 20 360", "2 3 4 5 6 8 9 10 15 18 30 360",
        "2 3 4 5 6 8 9 10 15 18 40 45"},
       {"3 4 6 8 9 12 18 24 27 36 54 108", "3 4 6 8 9 12 18 24 32 36 48 96",
        "3 4 6 8 9 12 18 24 36 48 72 144"},
       36,
       "2 4 5 8 9 10 15 18 20 24 30 36",
       1536,
       502,
       {353, 180},
       8,
       1},
      {13,
       2268482,
       "0fae5df59abf792a7e362de085d8c81236ef9ae3c12098957542968b45d8d5d4",
       {"2 3 4 5 6 8 9 10 15 16 18 20 720", "2 3 4 5 6 8 9 10 15 16 18 30 720",
        "2 3 4 5 6 8 9 10 15 16 18 40 720"},
       {"3 4 6 8 12 16 18 24 27 36 48 54 108", "3 4 6 8 12 16 18 24 32 36 48 72 96",
        "3 4 6 9 12 16 18 24 27 36 48 54 108"},
       36,
       "2 3 5 8 9 10 12 15 18 20 24 30 36",
       3072,
       1013,
       {91, 45},
       60,
       2},
  };
  return figures;
}

// The fixture as text if that exists, else compressed.
std::filesystem::path fixture_path(std::size_t k) {
  const auto text =
      std::filesystem::path(TILVANE_SOURCE_DIR) / cat("fixtures/k", k, "_expected.txt");
  if (std::filesystem::exists(text)) return text;
  return cat(text.string(), ".xz");
}

// The fixture's text; a compressed one through `xz -dc`, which must succeed.
std::string read_fixture(const std::filesystem::path& path) {
  if (path.extension() != ".xz") return testing::read_file(path);
  std::string quoted = "'";
  for (char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += '\'';
  FILE* pipe = ::popen(cat("xz -dc -- ", quoted).c_str(), "r");
  EXPECT_NE(pipe, nullptr) << "cannot run xz";
  if (pipe == nullptr) return {};
  std::string text;
  char buffer[1 << 16];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    text.append(buffer, got);
  }
  EXPECT_EQ(::pclose(pipe), 0) << "xz -dc " << path << " failed";
  return text;
}

// The lines of a text whose every line ends in a line feed.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t feed; (feed = text.find('\n', start)) != std::string::npos; start = feed + 1) {
    lines.push_back(text.substr(start, feed - start));
  }
  return lines;
}

// Digits without leading zeros, separated by single blanks.
bool strict_line(const std::string& line) {
  bool at_number_start = true;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ') {
      if (at_number_start) return false;
      at_number_start = true;
    } else if (c >= '0' && c <= '9') {
      if (at_number_start && c == '0') return false;
      at_number_start = false;
    } else {
      return false;
    }
  }
  return !at_number_start;
}

std::string row_text(const ModuliSet& set) {
  std::string out;
  for (std::uint64_t m : set) {
    if (!out.empty()) out += ' ';
    out += std::to_string(m);
  }
  return out;
}

class FixtureFile : public ::testing::TestWithParam<FixtureFigures> {};

TEST_P(FixtureFile, HasItsSizeDigestFormatRowsAndExtrema) {
  const FixtureFigures& f = GetParam();
  const auto path = fixture_path(f.k);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not present yet";
  const std::string text = read_fixture(path);

  EXPECT_EQ(test_util::sha256_hex(text), f.sha256);
  ASSERT_FALSE(text.empty());
  ASSERT_EQ(text.back(), '\n') << "the last line must end with a line feed";
  const std::vector<std::string> lines = lines_of(text);
  ASSERT_EQ(lines.size(), f.lines);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(strict_line(lines[i])) << "line " << i + 1 << ": \"" << lines[i] << "\"";
  }
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3), f.first_rows);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()), f.last_rows);

  auto sets = parse_expected_sets(text, f.k);
  ASSERT_TRUE(sets) << sets.error();
  ASSERT_EQ(sets->size(), f.lines);

  // Telling rows.
  std::size_t with_min_largest = 0;
  std::size_t with_max_largest = 0;
  bool named_row_has_min = false;
  std::vector<std::string> without_2;
  for (const ModuliSet& set : *sets) {
    if (set.back() == f.min_largest) {
      ++with_min_largest;
      named_row_has_min = named_row_has_min || row_text(set) == f.a_row_with_min_largest;
    }
    if (set.back() == f.max_largest) ++with_max_largest;
    if (std::find(set.begin(), set.end(), 2) == set.end()) without_2.push_back(row_text(set));
  }
  EXPECT_EQ(with_min_largest, f.rows_with_min_largest);
  EXPECT_TRUE(named_row_has_min) << f.a_row_with_min_largest;
  EXPECT_EQ(with_max_largest, f.rows_with_max_largest);
  // The sets without 2 come last in candidate order.
  ASSERT_EQ(without_2.size(), f.rows_without_2);
  EXPECT_EQ(without_2,
            std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(without_2.size()),
                                     lines.end()));

  // The first row alone has the greatest reciprocal sum.
  const auto first_sum = reciprocal_sum(sets->front());
  ASSERT_TRUE(first_sum);
  EXPECT_EQ(*first_sum, f.max_reciprocal_sum);
  for (std::size_t i = 1; i < sets->size(); ++i) {
    const auto sum = reciprocal_sum((*sets)[i]);
    ASSERT_TRUE(sum);
    EXPECT_EQ(fraction_greater(*first_sum, *sum), std::optional<bool>(true)) << lines[i];
  }

  // The extrema, as the aggregate finds them; the census table states them
  // too, checked by census_table_test.
  const auto aggregate = aggregate_found_sets(*sets, 0, {"sum", "comparison"});
  ASSERT_TRUE(aggregate);
  EXPECT_EQ(aggregate->min_largest_modulus, f.min_largest);
  EXPECT_EQ(aggregate->max_largest_modulus, f.max_largest);
  EXPECT_EQ(aggregate->max_reciprocal_sum, f.max_reciprocal_sum);
}

// Test names k8 to k13.
std::string fixture_test_name(const ::testing::TestParamInfo<FixtureFigures>& param_info) {
  std::string name = std::to_string(param_info.param.k);
  name.insert(name.begin(), 'k');
  return name;
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, FixtureFile, ::testing::ValuesIn(all_figures()),
                         fixture_test_name);

TEST(EmbeddedFixtures, EqualTheFilesTheBuildSaw) {
#if TILVANE_REDUCED
  const std::vector<std::size_t> embedded = {8};
#else
  const std::vector<std::size_t> embedded = {8, 9, 10, 11};
#endif
  for (std::size_t k = 8; k <= 11; ++k) {
    const bool in_build = std::find(embedded.begin(), embedded.end(), k) != embedded.end();
    const auto path = fixture_path(k);
    const std::string file =
        std::filesystem::exists(path) ? testing::read_file(path) : std::string();
    EXPECT_EQ(embedded_fixture_text(k), in_build ? file : std::string()) << "k=" << k;
  }
  EXPECT_EQ(embedded_fixture_text(7), "");
  // The k = 8 fixture is part of every build.
  EXPECT_FALSE(embedded_fixture_text(8).empty());
}

TEST(Sha256, MatchesKnownDigests) {
  EXPECT_EQ(test_util::sha256_hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(test_util::sha256_hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(test_util::sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
}  // namespace tilvane
