#include "Core/Testing/Locale.hpp"

#include <clocale>
#include <cstdio>
#include <string_view>

namespace tarvik::testing {

CommaDecimalLocale::CommaDecimalLocale() {
    const char* current = std::setlocale(LC_ALL, nullptr);
    previousC_ = current != nullptr ? current : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
        if (std::setlocale(LC_ALL, name) == nullptr) continue;
        // Only a locale that really writes a comma proves anything.
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 1.5);
        if (std::string_view(text) != "1,5") {
            std::setlocale(LC_ALL, previousC_.c_str());
            continue;
        }
        try {
            previousCpp_ = std::locale::global(std::locale(name));
        } catch (...) {
            std::setlocale(LC_ALL, previousC_.c_str());
            continue;
        }
        active_ = true;
        return;
    }
}

CommaDecimalLocale::~CommaDecimalLocale() {
    if (!active_) return;
    std::locale::global(previousCpp_);
    std::setlocale(LC_ALL, previousC_.c_str());
}

}  // namespace tarvik::testing
