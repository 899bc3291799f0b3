// The one rule for whose a card file is, and so a card folder, for one
// album, and for which of its songs a file holds: the export, the send and
// the send window's "on the card" all ask it. A file carrying an album
// identity is that album's; it holds a song of it when its title and number
// are the song's, or when it carries the song's own identity (then under
// the title or number an earlier run gave it), and it holds it as an
// earlier run wrote it where its album names differ from the song's. One
// without identity is a
// song when its tags, as its own tag form holds them, and its length are
// the song's; where the form could not hold a name whole ("?" for letters
// it has no code for, a field cut to its width, no album artist at all) the
// name counts as far as it goes, and the song's other fields decide. It is
// another album's when its names differ, or when they agree only as far
// as they go and it is none of the album's songs; unclear when a tag is
// there that can't be read; nobody's when it names no album at all. A
// folder holding files that carry the album's identity is the album's,
// whatever lies beside them; else it is another's when any file is, else
// unclear when any file is, else the album's when any file is: never by the
// order the files are listed in. Stateless, any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/AudioFacts.hpp"
#include "Core/Naming/TrackMeta.hpp"

namespace tarvik::CardOwnership {

using CardFile = AudioFacts::Facts;

// Whose a card file or folder is; later ones outweigh earlier ones.
enum class Holder { nobody, album, unclear, another };
Holder weightier(Holder a, Holder b);

// Whether the card file's tags are the record's, as far as its form holds
// them: its title, artist and number, its album and album artist where the
// form holds them whole and else as far as they go.
bool sameTags(const CardFile& card, const TrackMeta& meta);

// Whether the card file's title and number, as its form holds them, are
// the record's: the song, whatever its album is called.
bool sameSong(const CardFile& card, const TrackMeta& meta);

// Whether the card file's album and album artist, as its form holds them,
// are the record's: the same, different, or only as far as they go, where
// the form could not hold them whole (letters it has no code for were
// replaced, a name was cut, or it holds no album artist at all).
enum class Naming { same, differs, unclear };
Naming naming(const CardFile& card, const TrackMeta& meta);
// The same for an album's tracks: the same as one, different from all, or
// as far as it goes (also where there are none).
Naming naming(const CardFile& card, const std::vector<const TrackMeta*>& tracks);

// Keys under which a folder many albums share finds the files without
// identity that may be an album's, without weighing each against each: a
// file whose keys share none with any record of the album names another
// album (`naming` says it differs, and no song of it is the album's by
// `sameTags`). Nothing for a file with an empty album field, which any
// album's file may have.
std::optional<std::vector<std::string>> albumKeys(const CardFile& card);
std::vector<std::string> albumKeys(const TrackMeta& meta);

// Two lengths in seconds are one track's: within a second of each other, or
// either side has none that is true, and then the tags decide alone.
bool lengthsAgree(const std::optional<double>& card, const std::optional<double>& track);

// Whether the card file's length is the song's; asked only where its tags are.
using Lengths = std::function<bool(const std::optional<double>& card)>;

// A song of the library as the rule looks for it on a card.
struct Song {
    const TrackMeta* meta = nullptr;  // as this run or send writes it
    // As an earlier run may have written it: the library's record where a
    // lookup changed it since; null where it is the same.
    const TrackMeta* earlier = nullptr;
    std::vector<std::string> albums;    // the identities its album's files may carry
    std::optional<std::string> source;  // the identity of the song itself
};

// What a card file is to a song: nothing of it, its copy as written now, or
// its copy under the title, number or album names an earlier run gave it.
enum class Match { none, same, earlier };

// `carried` and `card` as read from the file (no facts: it couldn't be
// opened); `atItsName` where the file lies at the name planned for the song,
// where a file of its album written before songs carried identities counts
// as its copy. `lengths` may throw (Cancelled), which passes through.
Match match(const AlbumIdentity::Carried& carried, const std::optional<CardFile>& card,
            const Song& song, bool atItsName, const Lengths& lengths);

// A copy cut so short that nothing of its album can be read any more: no
// identity, some bytes but not all its headers speak of, and its tags
// unreadable or naming no album. At a song's own name in its album's folder it is the song's copy,
// to be written again whole, as a cut copy that still tells is.
bool cutBeyondTelling(const AlbumIdentity::Carried& carried, const std::optional<CardFile>& card);

// Whether a card file without identity is the track: its tags and its length.
bool sameTrack(const CardFile& card, const TrackMeta& meta, const std::optional<double>& seconds);

// Whose a card file without identity is (`card` as read, nothing when it
// couldn't be opened), given how the album's names compare with its tags
// and whether it is one of the album's tracks; each is asked only when
// needed, and may throw (Cancelled), which passes through.
Holder whose(const std::optional<CardFile>& card, const std::function<Naming()>& naming,
             const std::function<bool()>& isTrack);

}  // namespace tarvik::CardOwnership
