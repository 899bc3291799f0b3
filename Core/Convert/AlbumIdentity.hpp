// Where a file on the card came from: its album, a digest of the album
// artist and the album of the record it was written from, and its track, a
// digest of the disc and number the library gave it; each carried in a
// private tag that the unit does not show (ID3v2 "TXXX" frames
// "TARVIK_ALBUM" and "TARVIK_TRACK" in MP3, freeform items of the same names
// in M4A, which no common reader takes for a standard field). With them a
// later run or send tells its own files from another album's that took the
// same card name, and finds a song under whatever name an earlier run gave
// it. Stateless; any thread. Reading throws only Cancelled (an unreadable
// file carries none); writing throws ConversionError.
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::AlbumIdentity {

// The freeform items of an M4A file: their mean and their names.
inline constexpr std::string_view m4aMean = "org.tarvik";
inline constexpr std::string_view m4aAlbumName = "TARVIK_ALBUM";
inline constexpr std::string_view m4aTrackName = "TARVIK_TRACK";
// The album's item as files exported before were written: ffmpeg shows an
// item of this name as the album, so it is read and never written.
inline constexpr std::string_view m4aFormerAlbumName = "album";

// Lowercase hexadecimal SHA-256 of the NFC album artist (the artist when
// there is none), a line feed and the NFC album. Titles play no part, so a
// corrected title leaves a track in its album.
std::string of(const TrackMeta& meta);

// Lowercase hexadecimal SHA-256 of "track", the NFC disc, a line feed and
// the NFC number of the library's record, and where it has no number also a
// line feed and its NFC title: which song of its album a file holds,
// whatever title or number a catalogue gave it since.
std::string trackOf(const TrackMeta& library);

// What a file carries: nothing of either for a file written before these.
struct Carried {
    std::optional<std::string> album;
    std::optional<std::string> track;

    bool operator==(const Carried&) const = default;
};

// The identities the file carries, reading only its ID3v2 tag (MP3) or the
// atoms down to its item list (M4A), never the audio. Nothing for a file
// without them, or that is no regular file, can't be read or is damaged.
// The stop is heeded before every read of the file, not only before the
// first: a card answers slowly, and a damaged file may ask for many small
// reads. Throws Cancelled when it fires.
Carried carried(const std::filesystem::path& file, std::stop_token stop = {});
// The same through any source of the file's bytes.
Carried carried(ByteSource& file, std::stop_token stop = {});

// The album identity alone.
std::optional<std::string> read(const std::filesystem::path& file, std::stop_token stop = {});
std::optional<std::string> read(ByteSource& file, std::stop_token stop = {});

// Adds the freeform items to an M4A file in place (the track's only when
// given), keeping every other item. Throws ConversionError "書き込めません: "
// + name when the file can't be parsed or saved.
void writeM4A(const std::filesystem::path& file, std::string_view album,
              std::string_view track = {});

}  // namespace tarvik::AlbumIdentity
