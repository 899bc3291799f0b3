// Points in time as ISO 8601 internet date-time text, the form the program's
// JSON files store: "2026-12-06T19:13:18Z", in UTC, whole seconds. Pure and
// thread-safe (no locale, no time zone database).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::iso8601 {

// UTC, without fractional seconds: the fraction is dropped, not rounded.
std::string format(std::chrono::system_clock::time_point moment);

// "YYYY-MM-DDTHH:MM:SS" followed by "Z" or an offset "+HH:MM" / "-HH:MM";
// anything else (fractions, missing parts, impossible fields, a moment the
// system clock can't hold) gives nothing.
std::optional<std::chrono::system_clock::time_point> parse(std::string_view text);

}  // namespace tarvik::iso8601
