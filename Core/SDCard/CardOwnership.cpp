#include "Core/SDCard/CardOwnership.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string_view>

#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::CardOwnership {
namespace {

using Form = CardFile::Form;
using Encoding = ID3Writer::TextEncoding;

// A text as it reads back from a frame a Shift-JIS profile wrote: the CP932
// bytes under the ISO-8859-1 code, one character a byte.
std::string shiftJISAsRead(std::string_view text) {
    if (text.empty()) return {};
    const Bytes frame =
        ID3Writer{ID3Writer::Version::v2_3, Encoding::shiftJIS}.textFrame("TIT2", text);
    if (frame.size() < 12 || frame[10] != 0x00) return std::string(text);
    return CardTags::latin1Text(frame.begin() + 11, frame.end());
}

bool same(std::string_view onCard, std::string_view wanted) {
    return text::equivalent(text::trim(onCard), text::trim(wanted));
}

// A whole text, as any ID3v2 or MP4 profile wrote it: in Unicode, or in
// Shift-JIS bytes that read back one character a byte.
bool sameText(std::string_view onCard, std::string_view wanted) {
    return same(onCard, wanted) || same(onCard, shiftJISAsRead(wanted));
}

std::string_view number(std::string_view field) {
    return field.substr(0, field.find('/'));
}

// A 30-byte field of the ID3v1 trailer without the zeros or spaces that fill it.
Bytes fieldOf(const Bytes& trailer, std::size_t at) {
    std::size_t end = at + 30;
    while (end > at && (trailer[end - 1] == 0 || trailer[end - 1] == ' ')) --end;
    return Bytes(trailer.begin() + static_cast<std::ptrdiff_t>(at),
                 trailer.begin() + static_cast<std::ptrdiff_t>(end));
}

// Whether the trailer's fields at `at` (30 bytes each) and, with `track`,
// its track byte are the tags as either of its encodings writes them.
bool sameV1(const Bytes& trailer, const ID3Writer::Tags& tags,
            std::initializer_list<std::size_t> at, bool track) {
    for (const Encoding encoding : {Encoding::shiftJIS, Encoding::latin1}) {
        const Bytes wanted =
            ID3Writer{ID3Writer::Version::v2_3, encoding, true, false}.encodeV1(tags);
        const auto sameField = [&](std::size_t field) {
            return fieldOf(trailer, field) == fieldOf(wanted, field);
        };
        if (std::ranges::all_of(at, sameField) && (!track || trailer[126] == wanted[126])) {
            return true;
        }
    }
    return false;
}

// A whole text: the same, the same only as far as Shift-JIS bytes could hold
// it (characters without a code there became "?"), or another.
Naming compare(std::string_view onCard, std::string_view wanted) {
    if (same(onCard, wanted)) return Naming::same;
    if (!same(onCard, shiftJISAsRead(wanted))) return Naming::differs;
    return text::toCP932(text::withCP932Twins(wanted)) ? Naming::same : Naming::unclear;
}

}  // namespace

Holder weightier(Holder a, Holder b) {
    return std::max(a, b);
}

bool sameTags(const CardFile& card, const TrackMeta& meta) {
    // The album's names tell one album from another only where the form
    // holds them: "???" for any three characters it has no code for is no
    // album's name.
    if (card.form == Form::id3v1) {
        // 30-byte fields and a track byte, the album artist nowhere.
        return card.trailer.size() == 128 &&
               (text::toCP932(text::withCP932Twins(meta.album)) || text::toLatin1(meta.album)) &&
               sameV1(card.trailer,
                      {.title = meta.title,
                       .artist = meta.artist,
                       .album = meta.album,
                       .track = meta.track},
                      {3, 33, 63}, true);
    }
    return sameText(card.tags.title, meta.title) && sameText(card.tags.artist, meta.artist) &&
           compare(card.tags.album, meta.album) == Naming::same &&
           compare(card.tags.albumArtist, meta.albumArtist) == Naming::same &&
           number(card.tags.track) == number(meta.track);
}

Naming naming(const CardFile& card, const TrackMeta& meta) {
    // The trailer holds no album artist: at best the album is the same.
    if (card.form == Form::id3v1) {
        return card.trailer.size() == 128 &&
                       sameV1(card.trailer, {.album = meta.album}, {63}, false)
                   ? Naming::unclear
                   : Naming::differs;
    }
    const Naming album = compare(card.tags.album, meta.album);
    const Naming artist = compare(card.tags.albumArtist, meta.albumArtist);
    if (album == Naming::differs || artist == Naming::differs) return Naming::differs;
    return album == Naming::same && artist == Naming::same ? Naming::same : Naming::unclear;
}

Naming naming(const CardFile& card, const std::vector<const TrackMeta*>& tracks) {
    bool differs = !tracks.empty();
    for (const TrackMeta* track : tracks) {
        const Naming one = naming(card, *track);
        if (one == Naming::same) return Naming::same;
        differs = differs && one == Naming::differs;
    }
    return differs ? Naming::differs : Naming::unclear;
}

bool lengthsAgree(const std::optional<double>& card, const std::optional<double>& track) {
    return !card || !track || std::abs(*card - *track) <= 1.0;
}

bool sameTrack(const CardFile& card, const TrackMeta& meta, const std::optional<double>& seconds) {
    return sameTags(card, meta) && lengthsAgree(card.seconds, seconds);
}

Holder whose(const std::optional<CardFile>& card, const std::function<Naming()>& naming,
             const std::function<bool()>& isTrack) {
    if (!card || card->size == 0) return Holder::nobody;
    if (card->unreadable) return isTrack() ? Holder::album : Holder::unclear;
    if (!card->namesAlbum()) return isTrack() ? Holder::album : Holder::nobody;
    switch (naming()) {
        case Naming::same:
            return Holder::album;
        case Naming::differs:
            return Holder::another;
        case Naming::unclear:
            break;
    }
    return isTrack() ? Holder::album : Holder::unclear;
}

}  // namespace tarvik::CardOwnership
