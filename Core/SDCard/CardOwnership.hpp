// The one rule for whose a card file is, and so a card folder, for one
// album: the export, the send and the send window's "on the card" all ask
// it. A file carrying an album identity is that album's. One without is the
// album's when it is one of its tracks (its tags as its own tag form holds
// them, and its length where both it and the track have a true one), and
// otherwise by what its tags say: another album's only when its album or
// album artist differs from this album's as that form holds them; unclear
// when the form can't hold them whole, or a tag is there that can't be read;
// nobody's when it names no album at all (empty, untagged, a title alone),
// whatever its kind. A folder is another's when any file is, else unclear
// when any file is, else the album's when any file is: never by the order
// the files are listed in. Stateless, any thread.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "Core/Convert/AudioFacts.hpp"
#include "Core/Naming/TrackMeta.hpp"

namespace tarvik::CardOwnership {

using CardFile = AudioFacts::Facts;

// Whose a card file or folder is; later ones outweigh earlier ones.
enum class Holder { nobody, album, unclear, another };
Holder weightier(Holder a, Holder b);

// Whether the card file's tags are the record's, as far as its form holds
// them; its album and album artist only where the form holds them whole
// (cut to its field's width at most), never where characters it has no code
// for were replaced.
bool sameTags(const CardFile& card, const TrackMeta& meta);

// Whether the card file's album and album artist, as its form holds them,
// are the record's: the same, different, or no telling, where the form could
// not hold them whole (characters it has no code for were replaced, a name
// was cut, or it holds no album artist at all).
enum class Naming { same, differs, unclear };
Naming naming(const CardFile& card, const TrackMeta& meta);
// The same for an album's tracks: the same as one, different from all, or
// no telling (also where there are none).
Naming naming(const CardFile& card, const std::vector<const TrackMeta*>& tracks);

// Two lengths in seconds are one track's: within a second of each other, or
// either side has none that is true, and then the tags decide alone.
bool lengthsAgree(const std::optional<double>& card, const std::optional<double>& track);

// Whether the card file is the track: its tags and its length.
bool sameTrack(const CardFile& card, const TrackMeta& meta, const std::optional<double>& seconds);

// Whose a card file without identity is (`card` as read, nothing when it
// couldn't be opened), given how the album's names compare with its tags
// and whether it is one of the album's tracks; each is asked only when
// needed, and may throw (Cancelled), which passes through.
Holder whose(const std::optional<CardFile>& card, const std::function<Naming()>& naming,
             const std::function<bool()>& isTrack);

}  // namespace tarvik::CardOwnership
