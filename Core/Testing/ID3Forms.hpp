// ID3v2 tags of the forms older taggers and players' stores wrote, made
// byte by byte for tests: version 2.2 (three-letter frames), 2.3 and 2.4,
// unsynchronised as a whole (2.2, 2.3) or frame by frame (2.4), with an
// extended header, and with junk in the padding. Texts go in as
// ISO-8859-1 bytes. Header only.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tarvik::testing {
namespace id3forms {

inline std::string syncsafe(std::size_t size) {
    return {static_cast<char>((size >> 21) & 0x7F), static_cast<char>((size >> 14) & 0x7F),
            static_cast<char>((size >> 7) & 0x7F), static_cast<char>(size & 0x7F)};
}

inline std::string bigEndian(std::size_t size, int width) {
    std::string bytes;
    for (int at = width - 1; at >= 0; --at) bytes += static_cast<char>((size >> (8 * at)) & 0xFF);
    return bytes;
}

// Inserts a zero after every 0xFF.
inline std::string unsynchronised(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        out += c;
        if (static_cast<unsigned char>(c) == 0xFF) out += '\0';
    }
    return out;
}

}  // namespace id3forms

struct ID3Form {
    int major = 3;
    std::vector<std::pair<std::string, std::string>> frames = {};  // id, ISO-8859-1 text
    bool unsync = false;  // the whole tag (2.2, 2.3) or each frame (2.4)
    bool extendedHeader = false;
    std::string padding = {};
};

inline std::string id3Tag(const ID3Form& tag) {
    using namespace id3forms;
    std::string body;
    for (const auto& [id, text] : tag.frames) {
        std::string data = '\0' + text;
        if (tag.major == 2) {
            body += id + bigEndian(data.size(), 3) + data;
        } else if (tag.major == 3) {
            body += id + bigEndian(data.size(), 4) + std::string(2, '\0') + data;
        } else {
            if (tag.unsync) data = unsynchronised(data);
            body += id + syncsafe(data.size()) + '\0' + (tag.unsync ? '\x02' : '\0') + data;
        }
    }
    if (tag.extendedHeader) {
        body = (tag.major == 3 ? bigEndian(6, 4) + std::string(6, '\0')
                               : syncsafe(6) + std::string("\x01\x00", 2)) +
               body;
    }
    body += tag.padding;
    char flags = tag.extendedHeader ? 0x40 : 0;
    if (tag.unsync && tag.major < 4) {
        body = unsynchronised(body);
        flags = static_cast<char>(flags | 0x80);
    }
    return std::string("ID3") + static_cast<char>(tag.major) + '\0' + flags +
           syncsafe(body.size()) + body;
}

}  // namespace tarvik::testing
