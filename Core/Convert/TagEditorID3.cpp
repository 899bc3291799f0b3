#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "Core/Convert/ID3Tag.hpp"
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

bool isReplaced(const std::string& id) {
    static constexpr std::array<std::string_view, 9> replaced = {
        "TIT2", "TPE1", "TALB", "TPE2", "TRCK", "TPOS", "TYER", "TDRC", "TCON"};
    return std::find(replaced.begin(), replaced.end(), id) != replaced.end();
}

struct OldTag {
    int major = 3;
    Bytes keptFrames;  // raw, in their old order
    std::size_t audioStart = 0;
};

OldTag readTag(const Bytes& data) {
    const id3::ParsedTag parsed = id3::parseTag(data);
    OldTag tag{parsed.major, {}, parsed.audioStart};
    for (const id3::Frame& frame : parsed.frames) {
        if (!isReplaced(frame.id)) {
            tag.keptFrames.insert(tag.keptFrames.end(), frame.raw.begin(), frame.raw.end());
        }
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
