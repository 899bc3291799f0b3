// The tags of a file found on a card, read as the files users really have
// are tagged, to tell whose the file is (never to write it back): ID3v2 of
// every version (2.2 to 2.4) with unsynchronisation, extended headers and
// junk in the padding, the ID3v1 trailer, MP4 items, ASF (WMA) attributes,
// Vorbis comments (FLAC, Ogg) and an ID3 tag in front of ADTS audio. The
// form is told by the bytes, never by the file's name. TagLib parses ID3v2,
// MP4 and Vorbis comments, but only copies in memory that this reader took
// from the file in bounded reads: TagLib never waits on a card, the stop is
// heeded between reads, a hostile file costs at most `tagLimit` bytes, and
// MP4 atoms are walked as TagLib walks them first, so that its recursion
// never goes deeper than a real file's. ASF headers are read by our own
// bounded reader: TagLib's trusts their counts. Pure, any thread. Throws
// Cancelled once the stop is requested, and ConversionError when the file
// can't be read.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "Core/Naming/SourceTags.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::CardTags {

enum class Form { none, id3v2, id3v1, mp4, asf, xiph };

struct Tags {
    Form form = Form::none;  // the first form in the file that gives any field
    // Title, artist, album artist, album and track. An ID3v2 text in the
    // ISO-8859-1 code comes one character a byte, whatever code its bytes
    // were written in; several values are joined by U+0000.
    SourceTags fields;
    Bytes trailer;  // the ID3v1 trailer's 128 bytes, with that form
    // A tag is there that could not be read, or was damaged before it named
    // an album: nobody can tell whose the file is.
    bool unreadable = false;

    // Holds a title, an artist, an album or an album artist.
    bool tagged() const;
    // Holds an album or an album artist.
    bool namesAlbum() const;
};

// A tag (or MP4 movie, ASF header) longer than this is not read: far
// beyond a tag with a large cover.
inline constexpr std::uint64_t tagLimit = std::uint64_t{16} << 20;

Tags read(ByteSource& file, std::stop_token stop = {});

// Bytes as the tag readers give an ISO-8859-1 text: one character a byte,
// without the zeros or spaces that fill a fixed-width field at its end.
std::string latin1Text(Bytes::const_iterator begin, Bytes::const_iterator end);

}  // namespace tarvik::CardTags
