#include "Core/Convert/AlbumIdentity.hpp"

#include <mp4file.h>
#include <mp4item.h>
#include <mp4tag.h>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Sha256.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::AlbumIdentity {

std::string of(const TrackMeta& meta) {
    const std::string& artist = meta.albumArtist.empty() ? meta.artist : meta.albumArtist;
    return sha256Hex(text::nfc(artist) + "\n" + text::nfc(meta.album));
}

std::string trackOf(const TrackMeta& library) {
    std::string which = "track" + text::nfc(library.disc) + "\n" + text::nfc(library.track);
    // Without a number only the title tells the album's songs apart.
    if (library.track.empty()) which += "\n" + text::nfc(library.title);
    return sha256Hex(which);
}

void writeM4A(const std::filesystem::path& file, std::string_view album, std::string_view track) {
    const std::string failed = "書き込めません: " + file.filename().string();
    TagLib::MP4::File m4a(file.c_str());
    TagLib::MP4::Tag* tag = m4a.isValid() ? m4a.tag() : nullptr;
    if (tag == nullptr) throw ConversionError(failed);
    const auto set = [tag](std::string_view name, std::string_view value) {
        const std::string key = "----:" + std::string(m4aMean) + ":" + std::string(name);
        tag->setItem(TagLib::String(key, TagLib::String::UTF8),
                     TagLib::MP4::Item(TagLib::StringList(
                         TagLib::String(std::string(value), TagLib::String::UTF8))));
    };
    set(m4aAlbumName, album);
    if (!track.empty()) set(m4aTrackName, track);
    if (!m4a.save()) throw ConversionError(failed);
}

}  // namespace tarvik::AlbumIdentity
