#include "Core/Naming/SafeName.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "Core/Naming/TextNormalizer.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::SafeName {
namespace {

// Symbols that units show although CP932 has no code for them, or whose CP932
// code maps back to another scalar. The double vertical line and "parallel
// to" become "_" rather than "|": a card cannot store "|".
constexpr std::array<std::pair<char32_t, char>, 14> jisSymbols{{
    {U'\u301C', '~'},
    {U'\uFF5E', '~'},
    {U'\u2212', '-'},
    {U'\uFF0D', '-'},
    {U'\u2014', '-'},
    {U'\u2015', '-'},
    {U'\u2016', '_'},
    {U'\u2225', '_'},
    {U'\u00A2', 'c'},
    {U'\uFFE0', 'c'},
    {U'\u00A3', 'L'},
    {U'\uFFE1', 'L'},
    {U'\u00AC', '-'},
    {U'\uFFE2', '-'},
}};

std::string trimSpacesAndDots(std::string_view text) {
    return text::trimScalars(text, U" .");
}

std::string replaceForbidden(std::string_view text, bool forMac) {
    return (forMac ? macForbidden() : windowsForbidden()).replaceAll(text, "_");
}

std::string foldToASCII(std::string_view text) {
    std::string folded;
    for (char32_t scalar : text::scalars(text::nfkd(text))) {
        if (scalar < 0x80) folded.push_back(static_cast<char>(scalar));
    }
    return trimSpacesAndDots(TextNormalizer::whitespaceRuns().replaceAll(folded, " "));
}

}  // namespace

const Regex& windowsForbidden() {
    static const Regex pattern(R"([\\/:*?"<>|\x{00}-\x{1F}])");
    return pattern;
}

const Regex& macForbidden() {
    static const Regex pattern(R"([/:\x{00}-\x{1F}])");
    return pattern;
}

std::string make(std::string_view name, std::string_view fallback, const Rules& rules) {
    // The fallback comes from the caller and is cleaned like a tag value:
    // a fallback with "/" would make a name that is a path.
    const auto cleaned = [&rules](std::string_view text) {
        std::string result = clean(text, rules.forMac);
        if (rules.asciiOnly) {
            // Folding turns full-width forms such as "／" and "．．" into the
            // very characters that were replaced above, so they are replaced
            // again.
            result = trimSpacesAndDots(replaceForbidden(foldToASCII(result), rules.forMac));
        }
        return result;
    };
    std::string result = cleaned(name);
    const std::string safeFallback = cleaned(fallback);
    if (result.empty()) result = safeFallback;

    const auto limit = [&rules](std::string_view text) {
        const auto nameMax = static_cast<std::size_t>(std::max<std::int64_t>(rules.nameMax, 0));
        std::string cut = text::prefixScalars(text, nameMax);
        if (rules.forJIS) cut = mapForJIS(cut);
        if (rules.displayWidthMax >= 1) cut = cutToDisplayWidth(cut, rules.displayWidthMax);
        return trimSpacesAndDots(cutToFileSystem(trimSpacesAndDots(text::nfc(cut))));
    };
    // A display width of 1 cuts a name that starts with a two-column
    // character to nothing, and an empty name would be the parent folder.
    std::string limited = limit(result);
    if (limited.empty()) limited = limit(safeFallback);
    if (limited.empty()) limited = "_";
    return limited;
}

std::string clean(std::string_view name, bool forMac) {
    // The first five steps are exactly the tag-value clean-up.
    return trimSpacesAndDots(replaceForbidden(TextNormalizer::clean(name), forMac));
}

std::string withSuffix(std::string_view name, std::string_view suffix, const Rules& rules,
                       std::string_view extension) {
    const auto nameMax = static_cast<std::size_t>(std::max<std::int64_t>(rules.nameMax, 0));
    const std::size_t suffixScalars = text::scalarCount(suffix);
    const std::int64_t suffixWidth = displayWidth(suffix);
    const auto fits = [&](std::string_view kept) {
        if (text::scalarCount(kept) + suffixScalars > nameMax) return false;
        if (rules.displayWidthMax >= 1 &&
            displayWidth(kept) + suffixWidth > rules.displayWidthMax) {
            return false;
        }
        return kept.size() + suffix.size() + extension.size() <= fileSystemNameMax;
    };
    std::string kept(name);
    if (!fits(kept)) {
        kept.clear();
        for (const std::string& cluster : text::graphemes(name)) {
            if (!fits(kept + cluster)) break;
            kept += cluster;
        }
    }
    // A name may not end in a space or a full stop; cutting can leave one.
    kept = trimSpacesAndDots(kept);
    if (kept.empty()) kept = "_";
    return kept + std::string(suffix);
}

std::string cutToFileSystem(std::string_view name, std::string_view extension) {
    if (name.size() + extension.size() <= fileSystemNameMax) return std::string(name);
    std::string kept;
    for (const std::string& cluster : text::graphemes(name)) {
        if (kept.size() + cluster.size() + extension.size() > fileSystemNameMax) break;
        kept += cluster;
    }
    return kept;
}

std::string mapForJIS(std::string_view text) {
    // Twins first, as the Shift-JIS tags do, so that a name and the tag of one
    // track treat the JIS forms alike.
    const std::string normalized = text::withCP932Twins(text::nfc(text));
    std::string mapped;
    mapped.reserve(normalized.size());
    for (char32_t scalar : text::scalars(normalized)) {
        auto symbol = std::find_if(jisSymbols.begin(), jisSymbols.end(),
                                   [scalar](const auto& row) { return row.first == scalar; });
        if (symbol != jisSymbols.end()) {
            mapped.push_back(symbol->second);
            continue;
        }
        std::string single;
        text::appendScalar(single, scalar);
        if (text::toCP932(single)) {
            mapped += single;
        } else {
            mapped.push_back('_');
        }
    }
    return mapped;
}

std::string padForJIS(std::string_view text) {
    if (text.empty() || isASCII(text)) return std::string(text);
    std::optional<Bytes> encoded = text::toCP932(text);
    if (!encoded || encoded->size() > 8) return std::string(text);
    std::string padded(text);
    // U+3000 takes two bytes in CP932.
    for (std::size_t length = encoded->size(); length <= 8; length += 2) padded += "\u3000";
    return padded;
}

std::int64_t displayWidth(char32_t scalar) {
    return (scalar < 0x100 || (scalar >= 0xFF61 && scalar <= 0xFF9F)) ? 1 : 2;
}

std::int64_t displayWidth(std::string_view text) {
    std::int64_t width = 0;
    for (char32_t scalar : text::scalars(text)) width += displayWidth(scalar);
    return width;
}

std::string cutToDisplayWidth(std::string_view text, std::int64_t maxWidth) {
    std::string kept;
    std::int64_t width = 0;
    for (char32_t scalar : text::scalars(text)) {
        width += displayWidth(scalar);
        if (width > maxWidth) break;
        text::appendScalar(kept, scalar);
    }
    return kept;
}

bool isASCII(std::string_view text) {
    return text::isASCII(text);
}

}  // namespace tarvik::SafeName
