#include "Core/Naming/TextNormalizer.hpp"

#include <algorithm>

#include "Core/Naming/SequenceMatcher.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::TextNormalizer {

const Regex& explicitClean() {
    static const Regex pattern(R"(\s*[\[(](Explicit|Clean)[\])])", Regex::caseInsensitive);
    return pattern;
}

const Regex& brackets() {
    static const Regex pattern(R"(\s*[\[(（「『][^\])）」』]*[\])）」』])");
    return pattern;
}

const Regex& remaster() {
    static const Regex pattern(
        R"(\s*(?:[\[(][^\])]*remaster[^\])]*[\])]|-\s*[^-]*remaster(?:ed)?[^-]*$))",
        Regex::caseInsensitive);
    return pattern;
}

const Regex& singleEP() {
    static const Regex pattern(R"(\s+-\s+(Single|EP)$)");
    return pattern;
}

const Regex& whitespaceRuns() {
    static const Regex pattern(R"(\s+)");
    return pattern;
}

std::string clean(std::string_view text) {
    std::string result = explicitClean().replaceAll(text::nfc(text), "");
    result = text::replacing(result, "\u3000", " ");
    return text::trim(whitespaceRuns().replaceAll(result, " "));
}

std::string cleanTitle(std::string_view text) {
    std::string cleaned = clean(remaster().replaceAll(text, ""));
    return cleaned.empty() ? clean(text) : cleaned;
}

std::string cleanAlbum(std::string_view text) {
    return clean(singleEP().replaceAll(text, ""));
}

std::string stripBrackets(std::string_view text) {
    return text::trim(brackets().replaceAll(text, ""));
}

std::string key(std::string_view text) {
    std::string result;
    for (char32_t scalar : text::scalars(text::lower(text::nfkc(text)))) {
        switch (text::category(scalar)) {
            case text::Category::letter:
            case text::Category::mark:
            case text::Category::number:
                text::appendScalar(result, scalar);
                break;
            default:
                break;
        }
    }
    return result;
}

double similarity(std::string_view x, std::string_view y) {
    if (x.empty() || y.empty()) return 0.0;
    const double keysRatio = SequenceMatcher::ratio(key(x), key(y));
    const std::string strippedX = key(stripBrackets(x));
    const std::string strippedY = key(stripBrackets(y));
    if (strippedX.empty() || strippedY.empty()) return keysRatio;
    return std::max(keysRatio, SequenceMatcher::ratio(strippedX, strippedY));
}

bool similar(std::string_view x, std::string_view y) {
    const std::string keyX = key(x);
    if (keyX.empty()) return false;
    const std::string keyY = key(y);
    if (keyX == keyY) return true;
    return SequenceMatcher::ratio(keyX, keyY) >= 0.92;
}

}  // namespace tarvik::TextNormalizer
