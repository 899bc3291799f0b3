#include "Core/Platform/Iso8601.hpp"

#include <array>
#include <charconv>
#include <cstdio>

namespace tarvik::iso8601 {
namespace {

using namespace std::chrono;

// Exactly `width` ASCII digits at `at`, or nothing.
std::optional<int> digits(std::string_view text, std::size_t at, std::size_t width) {
    if (at + width > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::string format(system_clock::time_point moment) {
    const auto seconds = floor<std::chrono::seconds>(moment);
    const auto day = floor<days>(seconds);
    const year_month_day date{day};
    const hh_mm_ss time{seconds - day};
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buffer.data();
}

std::optional<system_clock::time_point> parse(std::string_view text) {
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const auto y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    const auto h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;
    const year_month_day date{year{*y}, month{static_cast<unsigned>(*mo)},
                              day{static_cast<unsigned>(*d)}};
    if (!date.ok()) return std::nullopt;

    std::chrono::seconds offset{0};
    const std::string_view zone = text.substr(19);
    if (zone != "Z") {
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':') {
            return std::nullopt;
        }
        const auto oh = digits(zone, 1, 2), om = digits(zone, 4, 2);
        if (!oh || !om || *oh > 23 || *om > 59) return std::nullopt;
        offset = hours{*oh} + minutes{*om};
        if (zone[0] == '-') offset = -offset;
    }
    // The clock counts nanoseconds in 64 bits: about 1678 to 2262. A moment
    // outside it is not a time this program can hold.
    const sys_seconds moment =
        sys_days{date} + hours{*h} + minutes{*mi} + std::chrono::seconds{*s} - offset;
    constexpr auto earliest = ceil<std::chrono::seconds>(system_clock::time_point::min());
    constexpr auto latest = floor<std::chrono::seconds>(system_clock::time_point::max());
    if (moment < earliest || moment > latest) return std::nullopt;
    return moment;
}

}  // namespace tarvik::iso8601
