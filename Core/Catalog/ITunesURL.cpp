#include "Core/Catalog/ITunesURL.hpp"

#include <charconv>
#include <mutex>
#include <shared_mutex>

#include "Core/Naming/TextNormalizer.hpp"

namespace tarvik::ITunesURL {
namespace {

struct BaseAddress {
    std::shared_mutex mutex;  // guards address
    std::string address{defaultBase};
};

BaseAddress& baseAddress() {
    static BaseAddress shared;
    return shared;
}

bool staysAsIs(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

}  // namespace

std::string base() {
    BaseAddress& shared = baseAddress();
    std::shared_lock lock(shared.mutex);
    return shared.address;
}

std::string setBase(std::string address) {
    BaseAddress& shared = baseAddress();
    std::unique_lock lock(shared.mutex);
    std::swap(shared.address, address);
    return address;
}

std::string percentEncode(std::string_view text) {
    static constexpr char hexDigits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (staysAsIs(byte)) {
            escaped += c;
        } else if (byte == ' ') {
            escaped += '+';
        } else {
            escaped += '%';
            escaped += hexDigits[byte >> 4];
            escaped += hexDigits[byte & 0x0F];
        }
    }
    return escaped;
}

std::string url(std::string_view path, const std::vector<Item>& items) {
    std::string address = base();
    address += path;
    address += '?';
    bool first = true;
    auto append = [&](std::string_view key, std::string_view value) {
        if (!first) address += '&';
        first = false;
        address += percentEncode(key);
        address += '=';
        address += percentEncode(value);
    };
    for (const auto& [key, value] : items) append(key, value);
    append("country", "JP");
    append("lang", "ja_jp");
    return address;
}

std::string search(std::string_view artist, std::string_view title, std::string_view entity) {
    const std::string cleaned = TextNormalizer::stripBrackets(title);
    std::string term(artist);
    term += ' ';
    term += cleaned.empty() ? std::string(title) : cleaned;
    return url("search", {{"term", term}, {"entity", std::string(entity)}, {"limit", "10"}});
}

std::string albumSearch(std::string_view artist, std::string_view album) {
    return search(artist, album, "album");
}

std::string songSearch(std::string_view artist, std::string_view title) {
    return search(artist, title, "song");
}

std::string lookup(std::int64_t collectionId) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, collectionId);
    return url("lookup", {{"id", std::string(digits, written.ptr)}, {"entity", "song"}});
}

}  // namespace tarvik::ITunesURL
