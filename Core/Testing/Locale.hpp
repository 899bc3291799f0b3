// Running a stretch of a test under another process locale, to show that text
// meant for programs and files does not follow it. Not thread-safe: the locale
// belongs to the whole process, so use it while no other thread runs.
#pragma once

#include <locale>
#include <string>

namespace tarvik::testing {

// Sets the C and the C++ global locale to a German one, whose decimal mark is
// a comma, and restores both on destruction. active() is false when no such
// locale is installed (nothing was changed then); callers skip.
class CommaDecimalLocale {
public:
    CommaDecimalLocale();
    ~CommaDecimalLocale();
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    bool active() const { return active_; }

private:
    bool active_ = false;
    std::string previousC_;
    std::locale previousCpp_;
};

}  // namespace tarvik::testing
