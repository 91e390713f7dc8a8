#include "engine/refutation_trace.h"

namespace tilvane {

void TraceText::line(std::string_view text) {
  text_ += text;
  text_ += '\n';
}

std::string trace_numbers(std::string_view word, std::span<const std::uint64_t> numbers) {
  std::string text(word);
  for (const std::uint64_t n : numbers) {
    text += ' ';
    text += std::to_string(n);
  }
  return text;
}

}  // namespace tilvane
