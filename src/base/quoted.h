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
// text should be valid UTF-8; a byte that starts no valid sequence is shown
// as \xhh (two lowercase hex digits) rather than copied.
std::string quoted(std::string_view text);

// The same for the other text types, so that an unqualified call with a
// std::string or a literal never resolves to std::quoted instead.
inline std::string quoted(const std::string& text) { return quoted(std::string_view(text)); }
inline std::string quoted(const char* text) { return quoted(std::string_view(text)); }

}  // namespace tilvane
