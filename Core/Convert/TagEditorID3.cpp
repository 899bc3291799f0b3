#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::TagEditor {
namespace {

constexpr std::size_t v1Size = 128;
constexpr std::size_t padding = 1024;

bool isReplaced(const std::string& id) {
    static constexpr std::array<std::string_view, 9> replaced = {
        "TIT2", "TPE1", "TALB", "TPE2", "TRCK", "TPOS", "TYER", "TDRC", "TCON"};
    return std::find(replaced.begin(), replaced.end(), id) != replaced.end();
}

struct OldTag {
    int major = 3;
    Bytes keptFrames;  // raw, in their old order
    std::uint64_t audioStart = 0;
};

OldTag readTag(ByteSource& file) {
    const id3::ParsedTag parsed = id3::parseTag(id3::readHead(file));
    OldTag tag{parsed.major, {}, parsed.audioStart};
    for (const id3::Frame& frame : parsed.frames) {
        if (!isReplaced(frame.id)) {
            tag.keptFrames.insert(tag.keptFrames.end(), frame.raw.begin(), frame.raw.end());
        }
    }
    return tag;
}

}  // namespace

void rewriteID3(ByteSource& file, const TrackMeta& meta, std::string_view fileName, ByteSink& out) {
    const OldTag old = readTag(file);
    std::uint64_t audioEnd = file.size();
    const bool hadTrailer = file.size() - old.audioStart >= v1Size &&
                            file.read(file.size() - v1Size, 3) == Bytes{'T', 'A', 'G'};
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
    if (frames.size() + padding >= ID3Writer::tagSizeLimit) id3::refuseTooLarge(fileName);

    Bytes head = {'I', 'D', '3', static_cast<std::uint8_t>(old.major), 0x00, 0x00};
    auto size = id3::syncsafe(static_cast<std::uint32_t>(frames.size() + padding));
    head.insert(head.end(), size.begin(), size.end());
    head.insert(head.end(), frames.begin(), frames.end());
    head.resize(head.size() + padding, 0x00);
    out.append(head);
    out.copy(file, old.audioStart, audioEnd - old.audioStart);

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
        out.append(trailer);
    }
}

Bytes rewriteID3(const Bytes& file, const TrackMeta& meta, std::string_view fileName) {
    MemorySource source(file);
    MemorySink out;
    rewriteID3(source, meta, fileName, out);
    return std::move(out.bytes());
}

void writeID3(const std::filesystem::path& source, const TrackMeta& meta,
              const std::filesystem::path& destination) {
    FileSource file(source);
    AtomicFileSink out(destination);
    rewriteID3(file, meta, source.filename().string(), out);
    out.commit();
}

}  // namespace tarvik::TagEditor
