#include "Core/Testing/ID3.hpp"

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Testing/Readers.hpp"

namespace tarvik::testing::id3v2 {

Bytes textFrame(std::string_view id, std::string_view text, int major) {
    return id3::frame(id, concat({{0x00}, bytes(text)}),
                      major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3);
}

Bytes tag(int major, std::uint8_t flags, const std::vector<Bytes>& frames, std::size_t padding) {
    Bytes body;
    for (const Bytes& frame : frames) body.insert(body.end(), frame.begin(), frame.end());
    body.resize(body.size() + padding, 0);
    const auto size = id3::syncsafe(static_cast<std::uint32_t>(body.size()));
    return concat({bytes("ID3"),
                   {static_cast<std::uint8_t>(major), 0, flags},
                   {size.begin(), size.end()},
                   body});
}

Parsed parse(const Bytes& file) {
    Parsed parsed;
    const std::size_t end = 10 + id3::readSyncsafe(&file[6]);
    for (std::size_t at = 10; at + 10 <= end && file[at] != 0;) {
        const std::size_t size =
            file[3] == 4 ? id3::readSyncsafe(&file[at + 4]) : id3::readBigEndian32(&file[at + 4]);
        const auto start = file.begin() + static_cast<std::ptrdiff_t>(at);
        const auto stop = start + static_cast<std::ptrdiff_t>(10 + size);
        parsed.ids.emplace_back(start, start + 4);
        parsed.frames.emplace_back(start, stop);
        parsed.bodies.emplace_back(start + 10, stop);
        at += 10 + size;
    }
    parsed.rest.assign(file.begin() + static_cast<std::ptrdiff_t>(end), file.end());
    return parsed;
}

}  // namespace tarvik::testing::id3v2
