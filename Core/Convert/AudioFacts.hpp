// What an audio file on a card says of itself without a child process: its
// size, every tag it carries as the files users have are tagged (CardTags:
// the form each takes, the track's fields as that form holds them, or that
// a tag is there that can't be read), its length from its headers and
// whether its bytes are all there that those speak of (AudioLength): the one
// check of a whole copy that the export and the send both ask. A run reads
// every file of an older card's album folder this way, so only the tags and
// a few headers are read, through one opening. Stateless, any thread.
// Nothing for a file that is no regular file or can't be opened; a stop
// during a read throws Cancelled.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Convert/CardTags.hpp"
#include "Core/Naming/SourceTags.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::AudioFacts {

struct Facts {
    using Form = CardTags::Form;
    std::uint64_t size = 0;
    Form form = Form::none;  // the form of the first of `each`
    // Title, artist, album artist, album and track, each from the first tag
    // that holds it. An ID3v2 text in the ISO-8859-1 code comes one
    // character a byte, whatever code its bytes were written in; several
    // values are joined by U+0000.
    SourceTags tags;
    // Every tag of the file that holds a field, each with its own (the
    // file's own kind first, the ID3v1 trailer last): an album any of them
    // names may be the file's.
    std::vector<CardTags::Tag> each;
    Bytes trailer;  // the ID3v1 trailer's 128 bytes, where it is one of `each`
    // A tag is there that could not be read, and none names an album.
    bool unreadable = false;
    // As the headers tell it; where the file is not whole, possibly more
    // than is there.
    std::optional<double> seconds;
    // The bytes its headers speak of are all there (AudioLength): not so for
    // a copy that ended early, nor for an empty file.
    bool whole = true;

    // Holds a title, an artist, an album or an album artist.
    bool tagged() const;
    // Holds an album or an album artist.
    bool namesAlbum() const;
};

std::optional<Facts> read(const std::filesystem::path& file, std::stop_token stop = {});
// The same through a source opened already.
std::optional<Facts> read(ByteSource& file, std::stop_token stop = {});

// Whether a copy read so is whole: there, and all its headers speak of. The
// one check of a copy that both the export and the send ask.
bool isWhole(const std::optional<Facts>& facts);

// Its length in seconds where its headers tell one that is true: a whole
// file's; nothing for one cut short, whose headers tell more than is there.
std::optional<double> trueSeconds(const Facts& facts);

// Why a file tells nothing of the album it belongs to, whatever its kind:
// it is empty, it has no tags (or can't be opened), or its tags name no
// album and no album artist (a title alone). Nothing when it names an album
// or holds a tag that can't be read: such a file is somebody's.
enum class Stray { empty, untagged, unnamed };
std::optional<Stray> stray(const std::optional<Facts>& facts);

}  // namespace tarvik::AudioFacts
