#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik::TagEditor {
namespace {

constexpr std::size_t v1Size = 128;
constexpr std::size_t padding = 1024;

[[noreturn]] void damaged() {
    throw ConversionError("ID3 タグが壊れています");
}

bool startsWith(const Bytes& data, std::size_t at, std::string_view text) {
    return at + text.size() <= data.size() &&
           std::equal(text.begin(), text.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
}

bool isReplaced(const std::uint8_t* id) {
    static constexpr std::array<std::string_view, 9> replaced = {
        "TIT2", "TPE1", "TALB", "TPE2", "TRCK", "TPOS", "TYER", "TDRC", "TCON"};
    return std::any_of(replaced.begin(), replaced.end(), [id](std::string_view known) {
        return std::equal(known.begin(), known.end(), id);
    });
}

struct OldTag {
    int major = 3;
    Bytes keptFrames;  // raw, in their old order
    std::size_t audioStart = 0;
};

OldTag readTag(const Bytes& data) {
    OldTag tag;
    if (data.size() < 10 || !startsWith(data, 0, "ID3")) return tag;
    tag.major = data[3];
    const std::uint8_t flags = data[5];
    const std::size_t size = id3::readSyncsafe(&data[6]);
    if (tag.major != 3 && tag.major != 4) {
        throw ConversionError("ID3v2." + std::to_string(tag.major) + " は扱えません");
    }
    if (flags & 0x80) throw ConversionError("非同期化された ID3 タグは扱えません");
    // A footer repeats the header after the frames; it belongs to the old tag.
    tag.audioStart = std::min(data.size(), size + 10 + ((flags & 0x10) ? 10 : 0));
    const std::size_t areaEnd = std::min(data.size(), size + 10);

    std::size_t at = 10;
    if ((flags & 0x40) && data.size() >= 14) {
        at = tag.major == 3 ? 14 + std::size_t{id3::readBigEndian32(&data[10])}
                            : 10 + std::size_t{id3::readSyncsafe(&data[10])};
        if (at > areaEnd) damaged();  // the frames' place is unknown
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
            tag.major == 4 ? id3::readSyncsafe(&data[at + 4]) : id3::readBigEndian32(&data[at + 4]);
        const std::size_t end = at + 10 + body;
        if (end > areaEnd) damaged();
        if (!isReplaced(&data[at])) {
            tag.keptFrames.insert(tag.keptFrames.end(),
                                  data.begin() + static_cast<std::ptrdiff_t>(at),
                                  data.begin() + static_cast<std::ptrdiff_t>(end));
        }
        at = end;
    }
    return tag;
}

}  // namespace

Bytes rewriteID3(const Bytes& data, const TrackMeta& meta) {
    const OldTag old = readTag(data);
    std::size_t audioEnd = data.size();
    const bool hadTrailer =
        data.size() - old.audioStart >= v1Size && startsWith(data, data.size() - v1Size, "TAG");
    if (hadTrailer) audioEnd -= v1Size;

    const ID3Writer::Version version =
        old.major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3;
    // UTF-8 where the version has it, UTF-16 with a byte-order mark on 2.3.
    const ID3Writer frameWriter{version, ID3Writer::TextEncoding::utf8, false, true};
    const std::string year = text::prefixGraphemes(meta.date, 4);
    const std::pair<std::string_view, const std::string&> fields[] = {
        {"TIT2", meta.title},
        {"TPE1", meta.artist},
        {"TRCK", meta.track},
        {"TALB", meta.album},
        {"TPE2", meta.albumArtist},
        {"TPOS", meta.disc},
        {old.major == 4 ? "TDRC" : "TYER", year},
        {"TCON", meta.genre},
    };
    Bytes frames;
    for (const auto& [id, value] : fields) {
        if (value.empty()) continue;
        Bytes frame = frameWriter.textFrame(id, value);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    frames.insert(frames.end(), old.keptFrames.begin(), old.keptFrames.end());
    // The syncsafe size field can't say more.
    if (frames.size() + padding >= ID3Writer::tagSizeLimit) damaged();

    Bytes out = {'I', 'D', '3', static_cast<std::uint8_t>(old.major), 0x00, 0x00};
    auto size = id3::syncsafe(static_cast<std::uint32_t>(frames.size() + padding));
    out.insert(out.end(), size.begin(), size.end());
    out.insert(out.end(), frames.begin(), frames.end());
    out.resize(out.size() + padding, 0x00);
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(old.audioStart),
               data.begin() + static_cast<std::ptrdiff_t>(audioEnd));

    if (hadTrailer) {
        const ID3Writer trailerWriter{ID3Writer::Version::v2_3, ID3Writer::TextEncoding::utf16,
                                      true, true};
        Bytes trailer = trailerWriter.encodeV1({.title = meta.title,
                                                .artist = meta.artist,
                                                .album = meta.album,
                                                .albumArtist = "",
                                                .track = meta.track,
                                                .disc = "",
                                                .year = year,
                                                .genre = meta.genre,
                                                .artworkJPEG = std::nullopt});
        out.insert(out.end(), trailer.begin(), trailer.end());
    }
    return out;
}

void writeID3(const std::filesystem::path& source, const TrackMeta& meta,
              const std::filesystem::path& destination) {
    Bytes result = rewriteID3(readWholeFile(source), meta);
    writeFileAtomically(destination, asText(result));
}

}  // namespace tarvik::TagEditor
