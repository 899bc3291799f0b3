// The 128-byte ID3v1 trailer at the end of an MP3 file, as the field editor
// meets it: an MP3 whose only tag it is (or whose ID3v2 tag holds no text)
// reads its title, artist and the rest from there, until a patch gives it
// an ID3v2 tag with text, which every reader then takes instead. So a new ID3v2 tag carries what
// the trailer says, in frames that readers read as they read the trailer, and the trailer's fields
// that change are updated where their room holds the new value. Pure, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::id3v1 {

inline constexpr std::size_t trailerSize = 128;

// The trailer: the file's last 128 bytes where they begin with "TAG" and
// follow the audio's start (`audioStart`, after any ID3v2 tag) whole.
std::optional<Bytes> trailer(ByteSource& file, std::uint64_t audioStart);

// How a trailer's texts are read: as ffmpeg reads them, UTF-8 where their
// bytes are (as its own writer leaves them), else Latin-1, as the format
// has them; or all as Latin-1, as versions before this one carried them.
enum class Reading { asFFmpeg, latin1 };

// ID3v2 frames (of version `major`) that say what the trailer says: title,
// artist, album, year, comment, track and genre, each only where the
// trailer holds it. Texts are cut at their first zero byte and without the
// spaces that pad them, each in a frame of Latin-1 where it reads so (or
// is ASCII), else of UTF-8 (UTF-16 on version 3); the genre is a reference
// to the ID3v1 list ("(17)"), which each reader resolves with its own
// list, as it does the trailer's byte.
std::vector<id3::Frame> frames(const Bytes& trailer, int major,
                               Reading reading = Reading::asFFmpeg);

// The trailer with `field` set to `value` (nothing: cleared) where its room
// holds it: a text of at most 30 bytes in the trailer's own encoding (UTF-8
// where its texts are, else Latin-1), a date that begins with a four-digit
// year (the year), a track number from 1 to 255 where the comment leaves
// its byte free, a genre of the ID3v1 list. Otherwise the trailer as it
// was: a cut or altered value would be another song's.
Bytes with(Bytes trailer, TagFields::Field field, const std::optional<std::string>& value);

}  // namespace tarvik::id3v1
