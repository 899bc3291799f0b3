#include "Core/Naming/TextNormalizer.hpp"

#include <algorithm>
#include <utility>

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

namespace {

// What differ() looks at: no remaster note and no Single or EP designation
// (the clean-ups drop them, so they tell nothing apart).
std::string withoutNotes(std::string_view text) {
    return singleEP().replaceAll(remaster().replaceAll(text, ""), "");
}

// From a dash after a blank, or a tilde or wave dash ("曲 〜Live ver.〜"),
// to the end: where stores put a version after a title.
const Regex& dashedTail() {
    static const Regex pattern(R"((?:\s[-\u2010-\u2015]|[~\u301C]).*$)");
    return pattern;
}

// Latin markers as whole words: "Live" but not "Alive", "Edit" but not "Edition".
const Regex& latinMarkers() {
    static const Regex pattern(
        "(?<![a-z])(live|demo|mono|remix|remixed|acoustic|instrumental|inst|karaoke|edit|"
        "version|ver)(?![a-z])");
    return pattern;
}

using Markers = std::vector<std::pair<std::string_view, std::string_view>>;

const Markers& latinSynonyms() {
    static const Markers synonyms = {
        {"remixed", "remix"}, {"inst", "instrumental"}, {"ver", "version"}};
    return synonyms;
}

// Japanese has no word breaks: these are found inside any run of text.
const Markers& japaneseMarkers() {
    static const Markers markers = {
        {"ライブ", "live"},           {"ライヴ", "live"},      {"デモ", "demo"},
        {"モノラル", "mono"},         {"リミックス", "remix"}, {"アコースティック", "acoustic"},
        {"インスト", "instrumental"},  // also インストゥルメンタル
        {"カラオケ", "karaoke"},      {"エディット", "edit"},  {"バージョン", "version"},
        {"ヴァージョン", "version"},
    };
    return markers;
}

void collectMarkers(std::string_view place, std::set<std::string>& found) {
    for (const Regex::Match& match : latinMarkers().allMatches(place)) {
        std::string marker = match.group(1);
        for (const auto& [word, name] : latinSynonyms()) {
            if (marker == word) marker = name;
        }
        found.insert(std::move(marker));
    }
    for (const auto& [word, name] : japaneseMarkers()) {
        if (place.find(word) != std::string_view::npos) found.emplace(name);
    }
}

}  // namespace

std::set<std::string> versions(std::string_view text) {
    const std::string normalized = text::lower(text::nfkc(withoutNotes(text)));
    std::set<std::string> found;
    for (const Regex::Match& match : brackets().allMatches(normalized)) {
        collectMarkers(match.group(0), found);
    }
    if (const auto tail = dashedTail().firstMatch(normalized)) {
        collectMarkers(tail->group(0), found);
    }
    // "(Live Version)" is the live one; "(Single Version)" is a version all the same.
    if (found.size() > 1) found.erase("version");
    return found;
}

bool differ(std::string_view x, std::string_view y) {
    return numbers(withoutNotes(x)) != numbers(withoutNotes(y)) || versions(x) != versions(y);
}

double similarity(std::string_view x, std::string_view y) {
    if (x.empty() || y.empty()) return 0.0;
    if (differ(x, y)) return 0.0;
    const double keysRatio = SequenceMatcher::ratio(key(x), key(y));
    const std::string strippedX = key(stripBrackets(x));
    const std::string strippedY = key(stripBrackets(y));
    if (strippedX.empty() || strippedY.empty()) return keysRatio;
    return std::max(keysRatio, SequenceMatcher::ratio(strippedX, strippedY));
}

bool same(std::string_view x, std::string_view y) {
    const std::string keyX = key(x);
    return !keyX.empty() && keyX == key(y) && !differ(x, y);
}

bool similar(std::string_view x, std::string_view y) {
    const std::string keyX = key(x);
    if (keyX.empty() || differ(x, y)) return false;
    const std::string keyY = key(y);
    if (keyX == keyY) return true;
    return SequenceMatcher::ratio(keyX, keyY) >= 0.92;
}

}  // namespace tarvik::TextNormalizer
