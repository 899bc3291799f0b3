// Numbers written for ffmpeg, files and web addresses, and read back from
// them, always with "." as the decimal mark whatever the process locale says
// (the application sets the C locale from the environment, and "volume=9,00dB"
// breaks ffmpeg).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::numbers {

// Fixed notation with exactly `decimals` digits after the point: (9.0, 2) -> "9.00".
std::string fixed(double value, int decimals);

// Shortest text that reads back to the same double.
std::string shortest(double value);

// A whole decimal number, optionally signed; nothing else may stand in the text.
std::optional<std::int64_t> parseInteger(std::string_view text);

// A decimal number such as "-14.2" or "1e3"; nothing else may stand in the text.
std::optional<double> parseDouble(std::string_view text);

}  // namespace tarvik::numbers
