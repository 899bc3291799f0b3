// The album a file on the card belongs to: a digest of the album artist and
// the album of the record it was written from, carried in a private tag that
// the unit does not show (an ID3v2 "TXXX" frame "TARVIK_ALBUM" in MP3, a
// freeform item "----:org.tarvik:album" in M4A). With it a later run or send
// tells its own files from another album's that took the same card name.
// Stateless; any thread. Reading throws only Cancelled (an unreadable file
// carries none); writing throws ConversionError.
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::AlbumIdentity {

// The freeform item of an M4A file: its mean and its name.
inline constexpr std::string_view m4aMean = "org.tarvik";
inline constexpr std::string_view m4aName = "album";

// Lowercase hexadecimal SHA-256 of the NFC album artist (the artist when
// there is none), a line feed and the NFC album. Titles play no part, so a
// corrected title leaves a track in its album.
std::string of(const TrackMeta& meta);

// The identity the file carries, reading only its ID3v2 tag (MP3) or the
// atoms down to its item list (M4A), never the audio. Nothing for a file
// without one, or that is no regular file, can't be read or is damaged.
// The stop is heeded before every read of the file, not only before the
// first: a card answers slowly, and a damaged file may ask for many small
// reads. Throws Cancelled when it fires.
std::optional<std::string> read(const std::filesystem::path& file, std::stop_token stop = {});
// The same through any source of the file's bytes.
std::optional<std::string> read(ByteSource& file, std::stop_token stop = {});

// Adds the freeform item to an M4A file in place, keeping every other item.
// Throws ConversionError "書き込めません: " + name when the file can't be
// parsed or saved.
void writeM4A(const std::filesystem::path& file, std::string_view identity);

}  // namespace tarvik::AlbumIdentity
