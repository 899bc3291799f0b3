#include "Core/Platform/Text.hpp"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace tarvik::text {
namespace {

icu::UnicodeString toICU(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string fromICU(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

using NormalizerGetter = const icu::Normalizer2* (*)(UErrorCode&);

std::string normalize(std::string_view text, NormalizerGetter getter) {
    // ASCII is invariant under every normalisation form; most names are ASCII.
    if (isASCII(text)) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = getter(status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU normalizer unavailable");
    icu::UnicodeString result = normalizer->normalize(toICU(text), status);
    if (U_FAILURE(status)) throw std::runtime_error("ICU normalization failed");
    return fromICU(result);
}

// Decodes the scalar at `offset` and advances it; ill-formed input gives U+FFFD.
char32_t nextScalar(std::string_view text, std::size_t& offset) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    int32_t index = static_cast<int32_t>(offset);
    UChar32 scalar = 0;
    U8_NEXT(bytes, index, static_cast<int32_t>(text.size()), scalar);
    offset = static_cast<std::size_t>(index);
    return scalar < 0 ? U'\uFFFD' : static_cast<char32_t>(scalar);
}

char32_t previousScalar(std::string_view text, std::size_t& end) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    int32_t index = static_cast<int32_t>(end);
    UChar32 scalar = 0;
    U8_PREV(bytes, 0, index, scalar);
    end = static_cast<std::size_t>(index);
    return scalar < 0 ? U'\uFFFD' : static_cast<char32_t>(scalar);
}

// Break iterators are not thread-safe: one per thread.
icu::BreakIterator& characterBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) throw std::runtime_error("ICU break iterator unavailable");
        return created;
    }();
    return *iterator;
}

// Byte offsets of the grapheme boundaries, from 0 to the text's size.
std::vector<std::size_t> graphemeBoundaries(std::string_view text) {
    std::vector<std::size_t> boundaries{0};
    if (text.empty()) return boundaries;
    UErrorCode status = U_ZERO_ERROR;
    UText utext = UTEXT_INITIALIZER;
    utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
    icu::BreakIterator& breaks = characterBreaks();
    breaks.setText(&utext, status);
    if (U_FAILURE(status)) {
        utext_close(&utext);
        throw std::runtime_error("ICU break iteration failed");
    }
    breaks.first();
    for (int32_t boundary = breaks.next(); boundary != icu::BreakIterator::DONE;
         boundary = breaks.next()) {
        boundaries.push_back(static_cast<std::size_t>(boundary));
    }
    utext_close(&utext);
    return boundaries;
}

// ASCII text, the usual case of file names, is mapped without ICU.
std::string mapCase(std::string_view text, bool toUpper) {
    if (isASCII(text)) {
        const char from = toUpper ? 'a' : 'A';
        const char to = toUpper ? 'A' : 'a';
        std::string out(text);
        for (char& c : out)
            if (c >= from && c <= from + 25) c = static_cast<char>(c - from + to);
        return out;
    }
    icu::UnicodeString unicode = toICU(text);
    if (toUpper)
        unicode.toUpper(icu::Locale::getRoot());
    else
        unicode.toLower(icu::Locale::getRoot());
    return fromICU(unicode);
}

}  // namespace

std::string nfc(std::string_view text) {
    return normalize(text, &icu::Normalizer2::getNFCInstance);
}
std::string nfkc(std::string_view text) {
    return normalize(text, &icu::Normalizer2::getNFKCInstance);
}
std::string nfkd(std::string_view text) {
    return normalize(text, &icu::Normalizer2::getNFKDInstance);
}

std::string nfcName(std::string_view name) {
    return isValidUTF8(name) ? nfc(name) : std::string(name);
}

bool equivalent(std::string_view a, std::string_view b) {
    return a == b || nfc(a) == nfc(b);
}

std::string lower(std::string_view text) {
    return mapCase(text, false);
}

std::string upper(std::string_view text) {
    return mapCase(text, true);
}

std::string prefixBytes(std::string_view text, std::size_t count) {
    if (text.size() <= count) return std::string(text);
    if (!isValidUTF8(text)) return std::string(text.substr(0, count));
    std::size_t end = count;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

std::u32string scalars(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t offset = 0; offset < text.size();) out.push_back(nextScalar(text, offset));
    return out;
}

void appendScalar(std::string& out, char32_t scalar) {
    uint8_t buffer[U8_MAX_LENGTH];
    int32_t length = 0;
    UBool error = false;
    U8_APPEND(buffer, length, U8_MAX_LENGTH, static_cast<UChar32>(scalar), error);
    if (error) {
        appendScalar(out, U'\uFFFD');
        return;
    }
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

std::string fromScalars(std::u32string_view scalarList) {
    std::string out;
    out.reserve(scalarList.size());
    for (char32_t scalar : scalarList) appendScalar(out, scalar);
    return out;
}

std::size_t scalarCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t offset = 0; offset < text.size(); ++count) nextScalar(text, offset);
    return count;
}

std::string prefixScalars(std::string_view text, std::size_t count) {
    std::size_t offset = 0;
    for (std::size_t kept = 0; kept < count && offset < text.size(); ++kept) {
        nextScalar(text, offset);
    }
    return std::string(text.substr(0, offset));
}

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string replacing(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t found = text.find(from); found != std::string_view::npos;
         found = text.find(from, copied)) {
        out.append(text.substr(copied, found - copied));
        out.append(to);
        copied = found + from.size();
    }
    out.append(text.substr(copied));
    return out;
}

bool isValidUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t index = 0; index < length;) {
        UChar32 scalar = 0;
        U8_NEXT(bytes, index, length, scalar);
        if (scalar < 0) return false;
    }
    return true;
}

std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t offset = 0; offset < text.size();) {
        units += nextScalar(text, offset) > 0xFFFF ? 2 : 1;
    }
    return units;
}

std::vector<std::string> graphemes(std::string_view text) {
    std::vector<std::size_t> boundaries = graphemeBoundaries(text);
    std::vector<std::string> clusters;
    clusters.reserve(boundaries.size());
    for (std::size_t i = 1; i < boundaries.size(); ++i) {
        clusters.emplace_back(text.substr(boundaries[i - 1], boundaries[i] - boundaries[i - 1]));
    }
    return clusters;
}

std::size_t graphemeCount(std::string_view text) {
    return graphemeBoundaries(text).size() - 1;
}

std::string prefixGraphemes(std::string_view text, std::size_t count) {
    std::vector<std::size_t> boundaries = graphemeBoundaries(text);
    if (count + 1 >= boundaries.size()) return std::string(text);
    return std::string(text.substr(0, boundaries[count]));
}

std::string suffixGraphemes(std::string_view text, std::size_t count) {
    std::vector<std::size_t> boundaries = graphemeBoundaries(text);
    if (count + 1 >= boundaries.size()) return std::string(text);
    return std::string(text.substr(boundaries[boundaries.size() - 1 - count]));
}

bool isSpaceSeparator(char32_t scalar) {
    return u_charType(static_cast<UChar32>(scalar)) == U_SPACE_SEPARATOR;
}

bool isWhitespace(char32_t scalar) {
    return scalar == U'\t' || isSpaceSeparator(scalar);
}

namespace {

template <typename Predicate>
std::string trimWhere(std::string_view text, Predicate drop) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        if (!drop(nextScalar(text, next))) break;
        begin = next;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t previous = end;
        if (!drop(previousScalar(text, previous))) break;
        end = previous;
    }
    return std::string(text.substr(begin, end - begin));
}

}  // namespace

std::string trim(std::string_view text) {
    return trimWhere(text, isWhitespace);
}

std::string trimScalars(std::string_view text, std::u32string_view set) {
    return trimWhere(
        text, [set](char32_t scalar) { return set.find(scalar) != std::u32string_view::npos; });
}

Category category(char32_t scalar) {
    switch (u_charType(static_cast<UChar32>(scalar))) {
        case U_UPPERCASE_LETTER:
        case U_LOWERCASE_LETTER:
        case U_TITLECASE_LETTER:
        case U_MODIFIER_LETTER:
        case U_OTHER_LETTER:
            return Category::letter;
        case U_NON_SPACING_MARK:
        case U_ENCLOSING_MARK:
        case U_COMBINING_SPACING_MARK:
            return Category::mark;
        case U_DECIMAL_DIGIT_NUMBER:
        case U_LETTER_NUMBER:
        case U_OTHER_NUMBER:
            return Category::number;
        case U_DASH_PUNCTUATION:
        case U_START_PUNCTUATION:
        case U_END_PUNCTUATION:
        case U_CONNECTOR_PUNCTUATION:
        case U_OTHER_PUNCTUATION:
        case U_INITIAL_PUNCTUATION:
        case U_FINAL_PUNCTUATION:
            return Category::punctuation;
        case U_MATH_SYMBOL:
        case U_CURRENCY_SYMBOL:
        case U_MODIFIER_SYMBOL:
        case U_OTHER_SYMBOL:
            return Category::symbol;
        case U_SPACE_SEPARATOR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
            return Category::separator;
        default:
            return Category::other;
    }
}

bool hasNumericType(char32_t scalar) {
    return u_getIntPropertyValue(static_cast<UChar32>(scalar), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

int decimalDigitValue(char32_t scalar) {
    return u_charDigitValue(static_cast<UChar32>(scalar));
}

std::optional<double> numericValue(char32_t scalar) {
    const double value = u_getNumericValue(static_cast<UChar32>(scalar));
    if (value == U_NO_NUMERIC_VALUE) return std::nullopt;
    return value;
}

}  // namespace tarvik::text
