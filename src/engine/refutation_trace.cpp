#include "engine/refutation_trace.h"

namespace tilvane {

void TraceText::line(std::string_view text) {
  text_ += text;
  text_ += '\n';
}

void TraceText::replay(TraceSink& sink) const {
  std::size_t at = 0;
  while (at < text_.size()) {
    const std::size_t end = text_.find('\n', at);
    sink.line(std::string_view(text_).substr(at, end - at));
    at = end + 1;
  }
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
