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

// A text as an ID3v1 trailer of either encoding holds it, cut to its
// 30-byte field, read back one character a byte: what a tagger copies from
// the trailer when it adds a tag of its own.
bool sameAsTrailerField(std::string_view onCard, std::string_view wanted) {
    for (const Encoding encoding : {Encoding::latin1, Encoding::shiftJIS}) {
        const Bytes trailer = ID3Writer{ID3Writer::Version::v2_3, encoding, true, false}.encodeV1(
            {.title = std::string(wanted)});
        if (trailer.size() == 128 &&
            same(onCard, CardTags::latin1Text(trailer.begin() + 3, trailer.begin() + 33))) {
            return true;
        }
    }
    return false;
}

// A whole text, as any profile wrote it: in Unicode, in Shift-JIS bytes that
// read back one character a byte, or as far as an ID3v1 field holds it.
bool sameText(std::string_view onCard, std::string_view wanted) {
    return same(onCard, wanted) || same(onCard, shiftJISAsRead(wanted)) ||
           sameAsTrailerField(onCard, wanted);
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
    if (trailer.size() != 128) return false;
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

// A number field without leading zeros or a count after "/"; empty where
// it holds no number.
std::string digitsOf(std::string_view field) {
    const std::string digits = text::trim(number(field));
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos ||
        !std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; })) {
        return {};
    }
    return digits.substr(first);
}

// The song's number as the card file holds it; empty where it holds none.
std::string numberOf(const CardFile& card) {
    if (card.form != Form::id3v1) return digitsOf(card.tags.track);
    // ID3v1.1: a zero byte, then the number.
    if (card.trailer.size() == 128 && card.trailer[125] == 0 && card.trailer[126] != 0) {
        return std::to_string(card.trailer[126]);
    }
    return {};
}

// The disc as the card file holds it; empty where it holds none (a trailer never does).
std::string discOf(const CardFile& card) {
    return card.form == Form::id3v1 ? std::string() : digitsOf(card.tags.disc);
}

// A name: the same, different, or the same only as far as the card could
// hold it (letters Shift-JIS has no code for became "?", the trailer cut it
// to its width, or the file holds none at all).
Naming compare(std::string_view onCard, std::string_view wanted) {
    // A "?" on the card may stand for any letter the card could not hold,
    // also where the name it is compared with was read from a card too.
    if (same(onCard, wanted)) {
        return onCard.find('?') == std::string_view::npos ? Naming::same : Naming::unclear;
    }
    if (text::trim(onCard).empty()) return Naming::unclear;
    if (same(onCard, shiftJISAsRead(wanted))) {
        return text::toCP932(text::withCP932Twins(wanted)) ? Naming::same : Naming::unclear;
    }
    return sameAsTrailerField(onCard, wanted) ? Naming::unclear : Naming::differs;
}

// The key of an album text as `compare` takes it on the card's side.
std::string textKey(std::string_view text) {
    return "t:" + text::nfc(text::trim(text));
}

// The key of a trailer's album field, compared byte for byte.
std::string trailerKey(const Bytes& field) {
    return "v1:" + std::string(field.begin(), field.end());
}

}  // namespace

std::optional<std::vector<std::string>> albumKeys(const CardFile& card) {
    std::vector<std::string> keys;
    bool anyAlbum = false;
    const auto add = [&](Form form, std::string_view album) {
        if (form == Form::id3v1) {
            if (card.trailer.size() == 128) keys.push_back(trailerKey(fieldOf(card.trailer, 63)));
        } else if (text::trim(album).empty()) {
            anyAlbum = true;  // an empty field is no other album's
        } else {
            keys.push_back(textKey(album));
        }
    };
    // The fields `sameTags` reads, and each tag `naming` weighs.
    add(card.form, card.tags.album);
    for (const CardTags::Tag& tag : card.each) {
        if (!tag.fields.album.empty() || !tag.fields.albumArtist.empty()) {
            add(tag.form, tag.fields.album);
        }
    }
    if (anyAlbum) return std::nullopt;
    return keys;
}

std::vector<std::string> albumKeys(const TrackMeta& meta) {
    // Each way `compare` and the trailer's fields take a card's album for the record's.
    std::vector<std::string> keys{textKey(meta.album), textKey(shiftJISAsRead(meta.album))};
    for (const Encoding encoding : {Encoding::latin1, Encoding::shiftJIS}) {
        const ID3Writer writer{ID3Writer::Version::v2_3, encoding, true, false};
        const Bytes asTitle = writer.encodeV1({.title = meta.album});
        if (asTitle.size() == 128) {
            keys.push_back(
                textKey(CardTags::latin1Text(asTitle.begin() + 3, asTitle.begin() + 33)));
        }
        const Bytes asAlbum = writer.encodeV1({.album = meta.album});
        if (asAlbum.size() == 128) keys.push_back(trailerKey(fieldOf(asAlbum, 63)));
    }
    return keys;
}

Holder weightier(Holder a, Holder b) {
    return std::max(a, b);
}

bool sameTags(const CardFile& card, const TrackMeta& meta) {
    // The album's names count as far as the form holds them: "???" for any
    // three characters it has no code for agrees with each, and the song's
    // own fields then decide.
    if (card.form == Form::id3v1) {
        // 30-byte fields and a track byte, the album artist nowhere.
        return sameV1(
            card.trailer,
            {.title = meta.title, .artist = meta.artist, .album = meta.album, .track = meta.track},
            {3, 33, 63}, true);
    }
    return sameSong(card, meta) && sameText(card.tags.artist, meta.artist) &&
           compare(card.tags.album, meta.album) != Naming::differs &&
           compare(card.tags.albumArtist, meta.albumArtist) != Naming::differs;
}

bool sameSong(const CardFile& card, const TrackMeta& meta) {
    if (card.form == Form::id3v1) {
        return sameV1(card.trailer, {.title = meta.title, .track = meta.track}, {3}, true);
    }
    // Two discs may each open with an "Intro": a disc the file holds tells them apart.
    const std::string disc = discOf(card);
    return sameText(card.tags.title, meta.title) && number(card.tags.track) == number(meta.track) &&
           (disc.empty() || meta.disc.empty() || disc == digitsOf(meta.disc));
}

Naming naming(const CardFile& card, const TrackMeta& meta) {
    // Each tag of the file names its album for itself: one that names this
    // album makes the file the album's, and only where every tag that names
    // one names another is the file another's.
    const auto namedBy = [&](Form form, const SourceTags& fields) {
        // The trailer holds no album artist: at best the album is the same.
        if (form == Form::id3v1) {
            return sameV1(card.trailer, {.album = meta.album}, {63}, false) ? Naming::unclear
                                                                            : Naming::differs;
        }
        const Naming album = compare(fields.album, meta.album);
        const Naming artist = compare(fields.albumArtist, meta.albumArtist);
        if (album == Naming::differs || artist == Naming::differs) return Naming::differs;
        return album == Naming::same && artist == Naming::same ? Naming::same : Naming::unclear;
    };
    if (card.each.empty()) return namedBy(card.form, card.tags);
    bool differs = true;
    bool named = false;
    for (const CardTags::Tag& tag : card.each) {
        if (tag.fields.album.empty() && tag.fields.albumArtist.empty()) continue;
        named = true;
        const Naming one = namedBy(tag.form, tag.fields);
        if (one == Naming::same) return Naming::same;
        differs = differs && one == Naming::differs;
    }
    if (!named) return namedBy(card.form, card.tags);
    return differs ? Naming::differs : Naming::unclear;
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

Match match(const AlbumIdentity::Carried& carried, const std::optional<CardFile>& card,
            const Song& song, bool atItsName, const Lengths& lengths) {
    if (carried.album) {
        if (std::ranges::find(song.albums, *carried.album) == song.albums.end()) {
            return Match::none;
        }
        // A file that names the song it holds is that song's or none: two
        // songs of an album may share a title and a number, one on each disc.
        // An exported album written before songs carried their identity
        // names none, and the file's title and number decide.
        if (carried.track && song.source && carried.track != song.source) return Match::none;
        Match found = Match::none;
        if (card && sameSong(*card, *song.meta)) {
            found = Match::same;
        } else if (carried.track && song.source) {
            found = Match::earlier;
        } else if (song.earlier != nullptr && card && sameSong(*card, *song.earlier)) {
            // Written before songs carried their own identity: the library's
            // title and number tell which song, else its place does.
            found = Match::earlier;
        } else if (atItsName) {
            found = Match::same;
        }
        // The song as an earlier run named its album (before a lookup renamed
        // it since, or after one that this run did not make): one copy,
        // written again under the album's names of now.
        if (found == Match::same && card && naming(*card, *song.meta) == Naming::differs) {
            return Match::earlier;
        }
        return found;
    }
    if (!card) return Match::none;
    const auto isSong = [&](const TrackMeta& meta) {
        return sameTags(*card, meta) && lengths(card->seconds);
    };
    if (isSong(*song.meta)) return Match::same;
    if (song.earlier != nullptr && isSong(*song.earlier)) return Match::earlier;
    // Titled otherwise by an earlier run that wrote no identity: the album's
    // file with the number the library gives the song, and its length.
    const std::string onCard = numberOf(*card);
    const bool albumAgrees =
        naming(*card, *song.meta) != Naming::differs ||
        (song.earlier != nullptr && naming(*card, *song.earlier) != Naming::differs);
    if (song.source && !onCard.empty() && card->namesAlbum() && albumAgrees &&
        AlbumIdentity::trackOf(TrackMeta("", "", "", "", onCard, discOf(*card), "", "")) ==
            *song.source &&
        lengths(card->seconds)) {
        return Match::earlier;
    }
    return Match::none;
}

bool cutBeyondTelling(const AlbumIdentity::Carried& carried, const std::optional<CardFile>& card) {
    // An empty file tells not even that: it stays as it is.
    return !carried.album && card && card->size > 0 && !AudioFacts::isWhole(card) &&
           (card->unreadable || !card->namesAlbum());
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
    // Names that agree only as far as the card could hold them are the
    // album's only with one of its songs; else another album's that reads
    // the same there.
    return isTrack() ? Holder::album : Holder::another;
}

}  // namespace tarvik::CardOwnership
