// The tags of a file found on a card, read as the files users really have
// are tagged, to tell whose the file is (never to write it back): every tag
// the file carries, of every kind the library may hold. ID3v2 of every
// version (2.2 to 2.4) with unsynchronisation, extended headers, junk in
// the padding and a malformed frame among good ones; the ID3v1 trailer; MP4
// items (M4A, M4B); ASF (WMA) attributes; Vorbis comments (FLAC, Ogg Vorbis
// and Opus); a WAV file's ID3 chunk and INFO list, an AIFF file's ID3
// chunk; an ID3 tag in front of any kind. The kind is told by the bytes,
// never by the file's name. TagLib parses ID3v2, MP4 and Vorbis comments,
// but only copies in memory that this reader took from the file in bounded
// reads: TagLib never waits on a card, the stop is heeded between reads, a
// hostile file costs at most `tagLimit` bytes a tag, and MP4 atoms are
// walked as TagLib walks them first, so that its recursion never goes
// deeper than a real file's. ASF headers (TagLib's reader trusts their
// counts) and INFO lists are read by our own bounded readers. Pure, any
// thread. Throws Cancelled once the stop is requested, and ConversionError
// when the file can't be read.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Naming/SourceTags.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::CardTags {

// `riffInfo` is a WAV file's INFO list.
enum class Form { none, id3v2, id3v1, mp4, asf, xiph, riffInfo };

// One of the file's tags and the fields it holds, as its form holds them:
// title, artist, album artist, album and track. An ID3v2 or ID3v1 text in
// the ISO-8859-1 code comes one character a byte, whatever code its bytes
// were written in; several values are joined by U+0000.
struct Tag {
    Form form = Form::none;
    SourceTags fields;

    bool operator==(const Tag&) const = default;
};

struct Tags {
    Form form = Form::none;  // the first form in `each`
    // Each field from the first tag in `each` that holds it, as a player
    // shows the file: an ID3v2 tag without an album takes the trailer's.
    SourceTags fields;
    // Every tag that holds a title, an artist, an album or an album artist,
    // the file's own first: the ID3v2 tag of MP3, WAV and AIFF (in front,
    // or a WAV or AIFF file's chunk), then a WAV file's INFO list; the MP4
    // items, ASF attributes or Vorbis comments of the other kinds, then an
    // ID3v2 tag in front of them; the ID3v1 trailer last. An album named by
    // any of them may be the file's.
    std::vector<Tag> each;
    Bytes trailer;  // the ID3v1 trailer's 128 bytes, where it is in `each`
    // A tag is there that could not be read, or was damaged before it named
    // an album, and no other names one: nobody can tell whose the file is.
    bool unreadable = false;

    // Holds a title, an artist, an album or an album artist.
    bool tagged() const;
    // Holds an album or an album artist.
    bool namesAlbum() const;
};

// A tag (or MP4 movie, ASF header, FLAC metadata, Ogg headers, WAV or AIFF
// chunk) longer than this is not read: far beyond a tag with a large cover.
inline constexpr std::uint64_t tagLimit = std::uint64_t{16} << 20;

Tags read(ByteSource& file, std::stop_token stop = {});

// Bytes as the tag readers give an ISO-8859-1 text: one character a byte,
// without the zeros or spaces that fill a fixed-width field at its end.
std::string latin1Text(Bytes::const_iterator begin, Bytes::const_iterator end);

}  // namespace tarvik::CardTags
