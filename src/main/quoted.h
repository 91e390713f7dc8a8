// The quoted form in which messages show user-supplied texts and tokens.
#pragma once

#include <string>
#include <string_view>

namespace tilvane {

// The text between double quotes: backslash and double quote escaped with a
// backslash; NUL, tab, carriage return and line feed as \0 \t \r \n; every
// other control, format, surrogate, private-use or unassigned code point,
// every space, line or paragraph separator except the ASCII space, and every
// grapheme-extending mark as \u{h} (lowercase hex, no leading zeros). The
// text must be valid UTF-8.
std::string quoted(std::string_view text);

}  // namespace tilvane
