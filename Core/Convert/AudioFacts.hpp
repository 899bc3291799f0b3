// What an audio file on a card says of itself without a child process: its
// size, the form its tags take (an ID3v2 tag in front, an MP4 item list, or
// only the ID3v1 trailer), the track's fields as that form holds them, and
// its length from its headers (AudioLength). A run reads every file of an
// older card's album folder this way, so only the tag and a few headers are
// read, through one opening. Stateless, any thread. Nothing for a file that
// is no regular file or can't be opened; damaged tags count as none; a stop
// during the length's frame count throws Cancelled.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>

#include "Core/Naming/SourceTags.hpp"
#include "Core/Platform/Bytes.hpp"

namespace tarvik::AudioFacts {

struct Facts {
    enum class Form { none, id3v2, id3v1, mp4 };
    std::uint64_t size = 0;
    Form form = Form::none;
    // Title, artist, album artist, album and track. An ID3v2 text in the
    // ISO-8859-1 code comes one character a byte, whatever code its bytes
    // were written in; several values are joined by U+0000.
    SourceTags tags;
    Bytes trailer;  // the ID3v1 trailer's 128 bytes, with that form
    std::optional<double> seconds;

    // Holds a title, an artist, an album or an album artist.
    bool tagged() const;
};

std::optional<Facts> read(const std::filesystem::path& file, std::stop_token stop = {});

// Bytes as the tag readers give an ISO-8859-1 text: one character a byte,
// without the zeros or spaces that fill a fixed-width field at its end.
std::string latin1Text(Bytes::const_iterator begin, Bytes::const_iterator end);

// Whether the file tells nothing of the album it belongs to: it is empty,
// can't be read, or is of a kind whose tags are read here (MP3, M4A) and
// holds none. A kind no run writes and whose tags are not read here (WMA,
// AAC) is taken for some other album's.
bool isStray(const std::filesystem::path& file, const std::optional<Facts>& facts);

}  // namespace tarvik::AudioFacts
