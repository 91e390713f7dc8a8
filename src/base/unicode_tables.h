// Unicode character data the program needs beyond White_Space: the code
// points that the quoted form must write as escapes. The table itself is
// generated from the Unicode Character Database (see unicode_tables.cpp).
#pragma once

#include <span>
#include <string_view>

namespace tilvane {

// An inclusive range of code points.
struct CodePointRange {
  char32_t first;
  char32_t last;
};

// The control, format, surrogate, private-use and unassigned code points, the
// space, line and paragraph separators other than U+0020, and the
// grapheme-extending marks: sorted, disjoint and non-adjacent ranges.
std::span<const CodePointRange> escaped_code_point_ranges();

// The Unicode version the table was generated from, such as "15.0.0".
std::string_view unicode_version();

}  // namespace tilvane
