// A 64-bit checksum of a text (FNV-1a), for files that must detect damage:
// not a defence against tampering, only against truncation and stray bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tilvane {

std::uint64_t checksum64(std::string_view text);

// The checksum as 16 lower-case hexadecimal digits.
std::string checksum_hex(std::string_view text);

}  // namespace tilvane
