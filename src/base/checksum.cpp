#include "base/checksum.h"

namespace tilvane {

std::uint64_t checksum64(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string checksum_hex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::uint64_t hash = checksum64(text);
  std::string hex(16, '0');
  for (std::size_t i = 16; i-- > 0; hash >>= 4) hex[i] = kDigits[hash & 15];
  return hex;
}

}  // namespace tilvane
