// Bytes written as hexadecimal digits, two per byte, and read back. Pure
// functions: any thread may call them; reading refuses what is not such
// digits instead of guessing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// Two lower-case digits for every byte.
std::string hexDigits(std::string_view bytes);

// The bytes that pairs of digits (either case) spell; nothing for an odd
// count or any other character.
std::optional<std::string> fromHexDigits(std::string_view digits);

}  // namespace tarvik
