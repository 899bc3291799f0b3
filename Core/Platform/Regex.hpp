// A regular expression in ICU syntax ("\d" is any Unicode decimal digit, "\s"
// any Unicode white space), matched directly on UTF-8 text. Compile each
// pattern once per process as a function-local static; a compiled Regex is
// immutable and may be used from any thread, since every call makes its own
// matcher. A malformed pattern is a programming error and throws
// std::invalid_argument from the constructor.
#pragma once

#include <unicode/uversion.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace tarvik {

class Regex {
public:
    enum Option : unsigned {
        none = 0,
        caseInsensitive = 1U << 0,
        multiline = 1U << 1,  // "^" and "$" also at line breaks
        dotAll = 1U << 2,     // "." also matches a line break
    };

    struct Match {
        std::size_t begin = 0;  // byte offsets of the whole match
        std::size_t end = 0;
        // groups[0] is the whole match; a group that took no part is absent.
        std::vector<std::optional<std::string>> groups;

        std::string group(std::size_t index) const;  // empty when absent
    };

    explicit Regex(std::string_view pattern, unsigned options = none);
    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    std::optional<Match> firstMatch(std::string_view text) const;
    std::vector<Match> allMatches(std::string_view text) const;
    bool contains(std::string_view text) const;
    bool matchesWhole(std::string_view text) const;
    // Replaces every non-overlapping match, left to right, by `replacement`
    // taken literally (no group references).
    std::string replaceAll(std::string_view text, std::string_view replacement) const;

private:
    std::unique_ptr<icu::RegexPattern> pattern_;
};

}  // namespace tarvik
