#include "Core/Platform/TextEncoding.hpp"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Core/Platform/Text.hpp"

namespace tarvik::text {
namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

UConverter& cp932Converter() {
    thread_local ConverterPtr converter = [] {
        UErrorCode status = U_ZERO_ERROR;
        ConverterPtr opened(ucnv_open("windows-31j", &status));
        if (U_FAILURE(status)) throw std::runtime_error("ICU converter windows-31j unavailable");
        // Strict: stop at the first character without a code instead of
        // substituting, and never use one-way fallback mappings.
        ucnv_setFromUCallBack(opened.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                              &status);
        ucnv_setToUCallBack(opened.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                            &status);
        ucnv_setFallback(opened.get(), false);
        if (U_FAILURE(status)) throw std::runtime_error("ICU converter setup failed");
        return opened;
    }();
    return *converter;
}

// JIS forms and the code page 932 characters that units show in their place.
// The yen sign's twin is the full-width yen, not the backslash byte that some
// fonts draw as a yen: a backslash stays a backslash.
constexpr std::array<std::pair<char32_t, char32_t>, 8> cp932Twins{{
    {U'\u301C', U'\uFF5E'},  // wave dash: full-width tilde
    {U'\u2016', U'\u2225'},  // double vertical line: parallel to
    {U'\u2212', U'\uFF0D'},  // minus sign: full-width hyphen-minus
    {U'\u00A2', U'\uFFE0'},  // cent sign
    {U'\u00A3', U'\uFFE1'},  // pound sign
    {U'\u00AC', U'\uFFE2'},  // not sign
    {U'\u2014', U'\u2015'},  // em dash: horizontal bar
    {U'\u00A5', U'\uFFE5'},  // yen sign
}};

icu::UnicodeString toICU(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

std::string withCP932Twins(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t scalar : scalars(text)) {
        auto twin = std::find_if(cp932Twins.begin(), cp932Twins.end(),
                                 [scalar](const auto& row) { return row.first == scalar; });
        appendScalar(out, twin == cp932Twins.end() ? scalar : twin->second);
    }
    return out;
}

std::optional<Bytes> toCP932(std::string_view text) {
    if (text.empty()) return Bytes{};
    if (!isValidUTF8(text)) return std::nullopt;  // ill-formed input has no code
    icu::UnicodeString unicode = toICU(text);
    UConverter& converter = cp932Converter();
    ucnv_reset(&converter);
    // CP932 takes at most two bytes per UTF-16 unit.
    std::string out(static_cast<std::size_t>(unicode.length()) * 2 + 2, '\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = ucnv_fromUChars(&converter, out.data(), static_cast<int32_t>(out.size()),
                                     unicode.getBuffer(), unicode.length(), &status);
    if (U_FAILURE(status)) return std::nullopt;
    // ICU silently drops default-ignorable characters it cannot map (a
    // variation selector, for one); strict means those fail too, so the bytes
    // must read back to the very same text.
    std::vector<UChar> back(static_cast<std::size_t>(length) + 1);
    ucnv_resetToUnicode(&converter);
    int32_t backLength = ucnv_toUChars(&converter, back.data(), static_cast<int32_t>(back.size()),
                                       out.data(), length, &status);
    if (U_FAILURE(status) || unicode != icu::UnicodeString(back.data(), backLength)) {
        return std::nullopt;
    }
    return Bytes(out.begin(), out.begin() + length);
}

std::optional<std::string> fromCP932(std::string_view bytes) {
    if (bytes.empty()) return std::string();
    UConverter& converter = cp932Converter();
    ucnv_resetToUnicode(&converter);
    // A byte or a pair of bytes gives one UTF-16 unit.
    std::vector<UChar> units(bytes.size() + 1);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        ucnv_toUChars(&converter, units.data(), static_cast<int32_t>(units.size()), bytes.data(),
                      static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    std::string text;
    icu::UnicodeString(units.data(), length).toUTF8String(text);
    for (char32_t scalar : scalars(text)) {
        if (scalar >= 0xE000 && scalar <= 0xF8FF) return std::nullopt;
    }
    return text;
}

std::optional<Bytes> toLatin1(std::string_view text) {
    if (!isValidUTF8(text)) return std::nullopt;
    Bytes out;
    out.reserve(text.size());
    for (char32_t scalar : scalars(text)) {
        if (scalar > 0xFF) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(scalar));
    }
    return out;
}

Bytes toUTF16LE(std::string_view text) {
    icu::UnicodeString unicode = toICU(text);
    Bytes out;
    out.reserve(static_cast<std::size_t>(unicode.length()) * 2);
    for (int32_t i = 0; i < unicode.length(); ++i) {
        char16_t unit = unicode.charAt(i);
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

std::string decodeUTF8(std::string_view bytes) {
    std::string out;
    toICU(bytes).toUTF8String(out);
    return out;
}

std::string decodeUTF8(const Bytes& bytes) {
    return decodeUTF8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace tarvik::text
