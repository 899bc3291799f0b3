#include "App/Model/SelectionKeys.hpp"

#include <cstdint>
#include <optional>

#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::SelectionKeys {

namespace {

constexpr char escapedMark = '/';
constexpr const char* hexDigits = "0123456789ABCDEF";

std::optional<int> hexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    return std::nullopt;
}

}  // namespace

std::string stored(const std::string& key) {
    if (text::isValidUTF8(key)) return key;
    std::string text(1, escapedMark);
    for (const char c : key) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte >= 0x80 || byte < 0x20 || c == '%') {
            text += '%';
            text += hexDigits[byte >> 4];
            text += hexDigits[byte & 0x0F];
        } else {
            text += c;
        }
    }
    return text;
}

std::string restored(const std::string& text) {
    if (text.empty() || text.front() != escapedMark) return text;
    std::string key;
    for (std::size_t at = 1; at < text.size(); ++at) {
        const std::optional<int> high =
            text[at] == '%' && at + 2 < text.size() ? hexValue(text[at + 1]) : std::nullopt;
        const std::optional<int> low = high ? hexValue(text[at + 2]) : std::nullopt;
        if (low) {
            key += static_cast<char>(*high * 16 + *low);
            at += 2;
        } else {
            key += text[at];
        }
    }
    return key;
}

Shown shown(const std::string& name) {
    if (text::isValidUTF8(name)) return {name, false};
    if (std::optional<std::string> read = text::fromCP932(name)) return {*read, true};
    return {text::decodeUTF8(name), true};
}

}  // namespace tarvik::SelectionKeys
