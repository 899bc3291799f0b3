#include "Core/Platform/ByteCountFormat.hpp"

#include <array>
#include <string_view>

namespace tarvik {
namespace {

struct Unit {
    std::string_view name;
    int decimals;
};

constexpr std::array<Unit, 6> units = {{
    {"KB", 0},
    {"MB", 1},
    {"GB", 2},
    {"TB", 2},
    {"PB", 2},
    {"EB", 2},
}};

// The value in units of `divisor`, rounded half up to `decimals` places.
// Integer arithmetic keeps every digit exact up to the largest 64-bit count.
std::string digits(unsigned __int128 value, unsigned __int128 divisor, int decimals) {
    unsigned __int128 step = 1;
    for (int i = 0; i < decimals; ++i) step *= 10;
    const unsigned __int128 rounded = (value * step + divisor / 2) / divisor;
    std::string whole = std::to_string(static_cast<std::uint64_t>(rounded / step));
    std::string fraction;
    unsigned __int128 rest = rounded % step;
    for (int i = 0; i < decimals; ++i) {
        step /= 10;
        fraction.push_back(static_cast<char>('0' + static_cast<int>(rest / step)));
        rest %= step;
    }
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    return fraction.empty() ? whole : whole + "." + fraction;
}

// Whole units the value shows as after rounding at the unit's precision.
unsigned __int128 roundedWhole(unsigned __int128 value, unsigned __int128 divisor, int decimals) {
    unsigned __int128 step = 1;
    for (int i = 0; i < decimals; ++i) step *= 10;
    return ((value * step + divisor / 2) / divisor) / step;
}

}  // namespace

std::string formatByteCount(std::int64_t bytes) {
    const std::string sign = bytes < 0 ? "-" : "";
    // The magnitude of INT64_MIN does not fit a signed 64-bit value.
    const unsigned __int128 magnitude = bytes < 0 ? static_cast<unsigned __int128>(-(bytes + 1)) + 1
                                                  : static_cast<unsigned __int128>(bytes);
    if (magnitude < 1000) {
        return sign + std::to_string(static_cast<std::uint64_t>(magnitude)) + " バイト";
    }
    unsigned __int128 divisor = 1000;
    std::size_t index = 0;
    while (index + 1 < units.size() &&
           roundedWhole(magnitude, divisor, units[index].decimals) >= 1000) {
        divisor *= 1000;
        ++index;
    }
    return sign + digits(magnitude, divisor, units[index].decimals) + " " +
           std::string(units[index].name);
}

}  // namespace tarvik
