#include "Core/Convert/ID3Tag.hpp"

#include <algorithm>
#include <string_view>

#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/TagFieldsError.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::id3 {
namespace {

[[noreturn]] void damaged() {
    throw UnnamedTagError("ID3 タグが壊れています");
}

bool startsWith(const Bytes& data, std::size_t at, std::string_view text) {
    return at + text.size() <= data.size() &&
           std::equal(text.begin(), text.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

ParsedTag parseTag(const Bytes& data) {
    ParsedTag tag;
    if (data.size() < 10 || !startsWith(data, 0, "ID3")) return tag;
    tag.present = true;
    tag.major = data[3];
    tag.revision = data[4];
    tag.flags = data[5];
    const std::uint8_t flags = data[5];
    const std::size_t size = readSyncsafe(&data[6]);
    if (tag.major != 3 && tag.major != 4) {
        throw UnnamedTagError("ID3v2." + std::to_string(tag.major) + " は扱えません");
    }
    if (flags & 0x80) throw UnnamedTagError("非同期化された ID3 タグは扱えません");
    // A footer repeats the header after the frames; it belongs to the old tag.
    tag.audioStart = std::min(data.size(), size + 10 + ((flags & 0x10) ? 10 : 0));
    const std::size_t areaEnd = std::min(data.size(), size + 10);
    if (flags & 0x10) {
        tag.footer.assign(data.begin() + static_cast<std::ptrdiff_t>(areaEnd),
                          data.begin() + static_cast<std::ptrdiff_t>(tag.audioStart));
    }

    std::size_t at = 10;
    if ((flags & 0x40) && data.size() >= 14) {
        at = tag.major == 3 ? 14 + std::size_t{readBigEndian32(&data[10])}
                            : 10 + std::size_t{readSyncsafe(&data[10])};
        if (at > areaEnd) damaged();  // the frames' place is unknown
        tag.extendedHeader.assign(data.begin() + 10,
                                  data.begin() + static_cast<std::ptrdiff_t>(at));
    }
    while (at < areaEnd) {
        if (data[at] == 0) {
            // Padding is zeros to the end of the tag. Anything else means the
            // walk lost its way (a writer that put plain numbers in syncsafe
            // sizes lands it inside a frame), and stopping here would drop
            // the frames after that point from the user's file.
            if (std::any_of(data.begin() + static_cast<std::ptrdiff_t>(at),
                            data.begin() + static_cast<std::ptrdiff_t>(areaEnd),
                            [](std::uint8_t byte) { return byte != 0; })) {
                damaged();
            }
            break;
        }
        // Dropping a frame that doesn't fit would silently lose the frames
        // after it (pictures, lyrics, comments) from the user's own file.
        if (areaEnd - at < 10) damaged();
        const std::size_t body =
            tag.major == 4 ? readSyncsafe(&data[at + 4]) : readBigEndian32(&data[at + 4]);
        if (body > areaEnd - at - 10) damaged();
        const std::size_t end = at + 10 + body;
        tag.frames.push_back({std::string(data.begin() + static_cast<std::ptrdiff_t>(at),
                                          data.begin() + static_cast<std::ptrdiff_t>(at + 4)),
                              Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                                    data.begin() + static_cast<std::ptrdiff_t>(end))});
        at = end;
    }
    return tag;
}

std::optional<std::uint64_t> tagLength(const Bytes& header) {
    if (header.size() < 10 || !startsWith(header, 0, "ID3")) return std::nullopt;
    // A footer repeats the header after the frames.
    return 10 + std::uint64_t{readSyncsafe(&header[6])} + ((header[5] & 0x10) != 0 ? 10 : 0);
}

std::uint64_t afterTags(ByteSource& file) {
    std::uint64_t at = 0;
    for (int tags = 0; tags < 4; ++tags) {
        const std::optional<std::uint64_t> size = tagLength(file.read(at, 10));
        if (!size || *size > file.size() - at) break;
        at += *size;
    }
    return at;
}

Bytes readHead(ByteSource& file) {
    Bytes header = file.read(0, 10);
    if (header.size() < 10 || !startsWith(header, 0, "ID3")) return {};
    parseTag(header);  // refuses versions and flags it can't handle
    const std::size_t length = std::size_t{readSyncsafe(&header[6])} + 20;
    if (length > headLimit) throw UnnamedTagError("ID3 タグが大きすぎます");
    return file.read(0, length);
}

void refuseTooLarge(std::string_view fileName) {
    static_assert(ID3Writer::tagSizeLimit == 256U << 20, "the message names the limit");
    throw ConversionError("タグが ID3 タグの上限（256 MiB）を超えるため、書き換えません: " +
                          std::string(fileName));
}

Bytes frameBody(const Frame& frame) {
    return Bytes(frame.raw.begin() + std::min<std::ptrdiff_t>(10, std::ssize(frame.raw)),
                 frame.raw.end());
}

}  // namespace tarvik::id3
