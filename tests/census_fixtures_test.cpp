// Reading expected-set texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/rendering.h"
#include "census/fixtures.h"

namespace tilvane {
namespace {

std::string outcome_of(const Result<ModuliSetList>& r) {
  return r ? "ok " + render_set_list(*r) : "error " + r.error();
}

TEST(ParseExpectedSets, AcceptsTheWiderSyntax) {
  struct Case {
    std::string text;
    std::size_t k;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", 2, "ok []"},
      {"\n \n\t\n", 2, "ok []"},
      {"2 3\n2 4\n", 2, "ok [[2, 3], [2, 4]]"},
      {"2 3\r\n2 4\r\n", 2, "ok [[2, 3], [2, 4]]"},
      {"  2\t\t3  \n\n2    4", 2, "ok [[2, 3], [2, 4]]"},  // no final line feed
      {"+5 007\n", 2, "ok [[5, 7]]"},
      {"0 1\n", 2, "ok [[0, 1]]"},                       // the parser does not judge moduli
      {"2\u00a03\u30004\u2028\n", 3, "ok [[2, 3, 4]]"},  // Unicode white space
      {"2 3\r4 5\n", 4, "ok [[2, 3, 4, 5]]"},            // a lone CR is white space
      {"2 3 4 6 12\n", 5, "ok [[2, 3, 4, 6, 12]]"},
      {"18446744073709551614 18446744073709551615\n", 2,
       "ok [[18446744073709551614, 18446744073709551615]]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome_of(parse_expected_sets(c.text, c.k)), c.expected) << c.text;
  }
}

TEST(ParseExpectedSets, ReportsTheFirstFaultInTextOrder) {
  struct Case {
    std::string text;
    std::size_t k;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"\n2 x\n", 2, "error invalid expected-set token \"x\" on line 2"},
      {"-5 7\n", 2, "error invalid expected-set token \"-5\" on line 1"},
      {"+ 7\n", 2, "error invalid expected-set token \"+\" on line 1"},
      {"++5 7\n", 2, "error invalid expected-set token \"++5\" on line 1"},
      {"5x 7\n", 2, "error invalid expected-set token \"5x\" on line 1"},
      {"2 18446744073709551616\n", 2,
       "error invalid expected-set token \"18446744073709551616\" on line 1"},
      {"2 a\\\"b\n", 2, "error invalid expected-set token \"a\\\\\\\"b\" on line 1"},
      {"2 3 4\n", 8, "error expected-set line 1 is not 8 strictly increasing moduli: [2, 3, 4]"},
      {"2 3 3 5 6 7 8 9\n", 8,
       "error expected-set line 1 is not 8 strictly increasing moduli: [2, 3, 3, 5, 6, 7, 8, 9]"},
      {"3 2\n", 2, "error expected-set line 1 is not 2 strictly increasing moduli: [3, 2]"},
      {"2 3 4\n", 2, "error expected-set line 1 is not 2 strictly increasing moduli: [2, 3, 4]"},
      // A bad token is reported before the short line it is on.
      {"2 x\n", 8, "error invalid expected-set token \"x\" on line 1"},
      // Blank lines keep their numbers; CR LF counts as one line end.
      {"2 3\r\n\r\n\n2 5 7\n", 2,
       "error expected-set line 4 is not 2 strictly increasing moduli: [2, 5, 7]"},
      {"2 3\n2 3\n", 2, "error expected sets are not strictly lexicographically sorted"},
      {"2 4\n2 3\n", 2, "error expected sets are not strictly lexicographically sorted"},
      {"3 4\n2 9\n", 2, "error expected sets are not strictly lexicographically sorted"},
      // Order is checked after the last line, so a later bad line wins.
      {"3 4\n2 3\n2 x\n", 2, "error invalid expected-set token \"x\" on line 3"},
      {"2 3\n\xff\n", 2, "error expected-set line 2 is not valid UTF-8"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome_of(parse_expected_sets(c.text, c.k)), c.expected) << c.text;
  }
}

TEST(ParseExpectedSets, ComparesNumbersNotDigits) {
  // 9 < 16, although "9" sorts after "16" as text.
  EXPECT_EQ(outcome_of(parse_expected_sets("2 9\n2 16\n", 2)), "ok [[2, 9], [2, 16]]");
}

}  // namespace
}  // namespace tilvane
