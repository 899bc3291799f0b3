#include "Core/Convert/ID3Text.hpp"

#include <unicode/utf16.h>

#include <algorithm>

#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::id3 {
namespace {

bool isMark(const Bytes& bytes, std::size_t at) {
    return at + 1 < bytes.size() && ((bytes[at] == 0xFF && bytes[at + 1] == 0xFE) ||
                                     (bytes[at] == 0xFE && bytes[at + 1] == 0xFF));
}

// UTF-16 strings separated by a zero unit, each with an optional byte order
// mark; `bigEndian` is the order without one.
std::optional<std::string> decodeUTF16(const Bytes& bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::u16string units;
    bool atStart = true;
    bool order = bigEndian;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (atStart && isMark(bytes, i)) {
            order = bytes[i] == 0xFE;
            atStart = false;
            continue;
        }
        const char16_t unit = order ? static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1])
                                    : static_cast<char16_t>(bytes[i + 1] << 8 | bytes[i]);
        units.push_back(unit);
        atStart = unit == 0;
        if (unit == 0) order = bigEndian;
    }
    std::string out;
    for (std::size_t i = 0; i < units.size();) {
        char32_t scalar = units[i++];
        if (U16_IS_LEAD(scalar) && i < units.size() && U16_IS_TRAIL(units[i])) {
            scalar = U16_GET_SUPPLEMENTARY(scalar, units[i++]);
        } else if (U16_IS_SURROGATE(scalar)) {
            return std::nullopt;
        }
        text::appendScalar(out, scalar);
    }
    return out;
}

// Each string of a list with the form's mark, in the mark's byte order (the
// encoding's own without one), strings joined by a zero unit.
Bytes utf16(std::string_view value, const TextForm& form) {
    const bool bigEndian = form.mark.empty() ? form.encoding == 2 : form.mark[0] == 0xFE;
    Bytes body;
    for (std::size_t start = 0, end;; start = end + 1) {
        end = value.find('\0', start);
        body.insert(body.end(), form.mark.begin(), form.mark.end());
        const Bytes units = text::toUTF16LE(value.substr(start, end - start));
        for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
            if (bigEndian) {
                body.insert(body.end(), {units[i + 1], units[i]});
            } else {
                body.insert(body.end(), {units[i], units[i + 1]});
            }
        }
        if (end == std::string_view::npos) break;
        body.insert(body.end(), {0x00, 0x00});
    }
    return body;
}

}  // namespace

std::optional<std::string> decodeText(const Bytes& body) {
    if (body.empty()) return std::nullopt;
    const Bytes rest(body.begin() + 1, body.end());
    std::optional<std::string> decoded;
    switch (body[0]) {
        case 0: {
            std::string latin1;
            for (std::uint8_t byte : rest) text::appendScalar(latin1, byte);
            decoded = latin1;
            break;
        }
        case 1:
            decoded = decodeUTF16(rest, false);
            break;
        case 2:
            decoded = decodeUTF16(rest, true);
            break;
        case 3:
            decoded = std::string(rest.begin(), rest.end());
            break;
        default:
            break;
    }
    // The terminator after the last string is not part of the value.
    while (decoded && !decoded->empty() && decoded->back() == '\0') decoded->pop_back();
    return decoded;
}

std::optional<TextForm> formOf(const Bytes& body) {
    if (body.empty() || body[0] > 3) return std::nullopt;
    TextForm form{body[0], {}, {}};
    const bool wide = form.encoding == 1 || form.encoding == 2;
    if (wide && isMark(body, 1)) form.mark.assign(body.begin() + 1, body.begin() + 3);
    // What follows the text is what the text in this form leaves of the body.
    if (const std::optional<std::string> text = decodeText(body)) {
        const std::optional<Bytes> head = bodyInForm(*text, form);
        if (head && head->size() <= body.size() &&
            std::equal(head->begin(), head->end(), body.begin())) {
            form.tail.assign(body.begin() + static_cast<std::ptrdiff_t>(head->size()), body.end());
            return form;
        }
    }
    const std::size_t unit = wide ? 2 : 1;
    if (body.size() >= 1 + unit &&
        std::all_of(body.end() - static_cast<std::ptrdiff_t>(unit), body.end(),
                    [](std::uint8_t byte) { return byte == 0; })) {
        form.tail.assign(unit, 0x00);
    }
    return form;
}

std::optional<Bytes> bodyInForm(std::string_view value, const TextForm& form) {
    if (form.encoding != 3 && !text::isValidUTF8(value)) return std::nullopt;
    Bytes body{form.encoding};
    switch (form.encoding) {
        case 0: {
            const std::optional<Bytes> latin1 = text::toLatin1(value);
            if (!latin1) return std::nullopt;
            body.insert(body.end(), latin1->begin(), latin1->end());
            break;
        }
        case 1:
        case 2: {
            const Bytes units = utf16(value, form);
            body.insert(body.end(), units.begin(), units.end());
            break;
        }
        case 3:
            body.insert(body.end(), value.begin(), value.end());
            break;
        default:
            return std::nullopt;
    }
    body.insert(body.end(), form.tail.begin(), form.tail.end());
    return body;
}

}  // namespace tarvik::id3
