// The one order in which lists of names are shown and walked: ICU's root
// collation at tertiary strength, so "a" < "A" < "b" and accents sort beside
// their letters. (ICU's en_US_POSIX collator orders by code point, which is
// the byte order names must not follow.) Thread-safe.
#pragma once

#include <string_view>

namespace tarvik::text {

// Negative, zero or positive as a sorts before, with or after b.
int compareNames(std::string_view a, std::string_view b);

// A strict weak order for std::sort and ordered containers.
struct NameLess {
    bool operator()(std::string_view a, std::string_view b) const { return compareNames(a, b) < 0; }
};

}  // namespace tarvik::text
