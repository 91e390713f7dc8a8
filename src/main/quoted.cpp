#include "main/quoted.h"

#include "main/text_scan.h"

namespace tilvane {

// Provisional: escapes only the ASCII controls until the Unicode tables land.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char ch : text) {
    switch (ch) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\0':
        out += "\\0";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += ch;
    }
  }
  out += '"';
  return out;
}

}  // namespace tilvane
