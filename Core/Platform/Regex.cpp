#include "Core/Platform/Regex.hpp"

#include <unicode/regex.h>
#include <unicode/utext.h>

#include <stdexcept>

namespace tarvik {
namespace {

// The subject text as a UTF-8 UText, so that match offsets are byte offsets.
class Subject {
public:
    explicit Subject(std::string_view text) {
        UErrorCode status = U_ZERO_ERROR;
        utext_openUTF8(&utext_, text.data(), static_cast<int64_t>(text.size()), &status);
        if (U_FAILURE(status)) throw std::runtime_error("ICU UText failed");
    }
    ~Subject() { utext_close(&utext_); }
    Subject(const Subject&) = delete;
    Subject& operator=(const Subject&) = delete;

    UText* get() { return &utext_; }

private:
    UText utext_ = UTEXT_INITIALIZER;
};

std::unique_ptr<icu::RegexMatcher> makeMatcher(const icu::RegexPattern& pattern, Subject& subject) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(status));
    if (U_FAILURE(status)) throw std::runtime_error("ICU matcher failed");
    matcher->reset(subject.get());
    return matcher;
}

Regex::Match currentMatch(icu::RegexMatcher& matcher, std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    Regex::Match match;
    match.begin = static_cast<std::size_t>(matcher.start64(status));
    match.end = static_cast<std::size_t>(matcher.end64(status));
    const int32_t groupCount = matcher.groupCount();
    for (int32_t group = 0; group <= groupCount; ++group) {
        int64_t start = matcher.start64(group, status);
        int64_t end = matcher.end64(group, status);
        if (U_FAILURE(status) || start < 0) {
            match.groups.emplace_back(std::nullopt);
            status = U_ZERO_ERROR;
            continue;
        }
        match.groups.emplace_back(std::string(
            text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start))));
    }
    return match;
}

}  // namespace

std::string Regex::Match::group(std::size_t index) const {
    if (index >= groups.size() || !groups[index]) return {};
    return *groups[index];
}

Regex::Regex(std::string_view pattern, unsigned options) {
    uint32_t flags = 0;
    if (options & caseInsensitive) flags |= UREGEX_CASE_INSENSITIVE;
    if (options & multiline) flags |= UREGEX_MULTILINE;
    if (options & dotAll) flags |= UREGEX_DOTALL;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    icu::UnicodeString source = icu::UnicodeString::fromUTF8(
        icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    pattern_.reset(icu::RegexPattern::compile(source, flags, parseError, status));
    if (U_FAILURE(status)) {
        throw std::invalid_argument("bad regular expression: " + std::string(pattern));
    }
}

Regex::~Regex() = default;

std::optional<Regex::Match> Regex::firstMatch(std::string_view text) const {
    Subject subject(text);
    auto matcher = makeMatcher(*pattern_, subject);
    UErrorCode status = U_ZERO_ERROR;
    if (!matcher->find(status) || U_FAILURE(status)) return std::nullopt;
    return currentMatch(*matcher, text);
}

std::vector<Regex::Match> Regex::allMatches(std::string_view text) const {
    Subject subject(text);
    auto matcher = makeMatcher(*pattern_, subject);
    std::vector<Match> matches;
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status) && U_SUCCESS(status)) {
        matches.push_back(currentMatch(*matcher, text));
    }
    return matches;
}

bool Regex::contains(std::string_view text) const {
    Subject subject(text);
    auto matcher = makeMatcher(*pattern_, subject);
    UErrorCode status = U_ZERO_ERROR;
    return matcher->find(status) && U_SUCCESS(status);
}

bool Regex::matchesWhole(std::string_view text) const {
    Subject subject(text);
    auto matcher = makeMatcher(*pattern_, subject);
    UErrorCode status = U_ZERO_ERROR;
    return matcher->matches(status) && U_SUCCESS(status);
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacement) const {
    Subject subject(text);
    auto matcher = makeMatcher(*pattern_, subject);
    std::string out;
    std::size_t copied = 0;
    bool matched = false;
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status) && U_SUCCESS(status)) {
        matched = true;
        auto begin = static_cast<std::size_t>(matcher->start64(status));
        auto end = static_cast<std::size_t>(matcher->end64(status));
        out.append(text.substr(copied, begin - copied));
        out.append(replacement);
        copied = end;
    }
    if (!matched) return std::string(text);
    out.append(text.substr(copied));
    return out;
}

}  // namespace tarvik
