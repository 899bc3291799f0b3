#include "Core/Pipeline/CardTrackMatch.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "Core/Convert/AudioLength.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::CardTrackMatch {
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
    return AudioFacts::latin1Text(frame.begin() + 11, frame.end());
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

bool sameTags(const CardFile& card, const TrackMeta& meta) {
    if (card.form == Form::id3v1) {
        // 30-byte fields and a track byte, the album artist nowhere.
        return sameV1(
            card.trailer,
            {.title = meta.title, .artist = meta.artist, .album = meta.album, .track = meta.track},
            {3, 33, 63}, true);
    }
    return sameText(card.tags.title, meta.title) && sameText(card.tags.artist, meta.artist) &&
           sameText(card.tags.album, meta.album) &&
           sameText(card.tags.albumArtist, meta.albumArtist) &&
           number(card.tags.track) == number(meta.track);
}

Naming naming(const CardFile& card, const TrackMeta& meta) {
    // The trailer holds no album artist: at best the album is the same.
    if (card.form == Form::id3v1) {
        return sameV1(card.trailer, {.album = meta.album}, {63}, false) ? Naming::unclear
                                                                        : Naming::differs;
    }
    const Naming album = compare(card.tags.album, meta.album);
    const Naming artist = compare(card.tags.albumArtist, meta.albumArtist);
    if (album == Naming::differs || artist == Naming::differs) return Naming::differs;
    return album == Naming::same && artist == Naming::same ? Naming::same : Naming::unclear;
}

bool sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile,
               std::stop_token stop) {
    return Matcher(std::move(stop)).sameTrack(item, cardFile);
}

Matcher::Matcher(std::stop_token stop) : stop_(std::move(stop)) {}

const std::optional<CardFile>& Matcher::card(const std::filesystem::path& cardFile) {
    auto known = cards_.find(cardFile.native());
    if (known == cards_.end()) {
        if (stop_.stop_requested()) throw Cancelled();
        known = cards_.emplace(cardFile.native(), AudioFacts::read(cardFile, stop_)).first;
    }
    return known->second;
}

const std::optional<double>& Matcher::sourceSeconds(const std::filesystem::path& source) {
    auto known = sources_.find(source.native());
    if (known == sources_.end()) {
        if (stop_.stop_requested()) throw Cancelled();
        std::optional<double> seconds;
        try {
            FileSource file(source);
            seconds = AudioLength::seconds(file, stop_);
        } catch (const ConversionError&) {
        }
        known = sources_.emplace(source.native(), seconds).first;
    }
    return known->second;
}

bool Matcher::sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile) {
    const std::optional<CardFile>& onCard = card(cardFile);
    if (!onCard || !onCard->seconds || !sameTags(*onCard, item.meta)) return false;
    const std::optional<double>& source = sourceSeconds(item.source);
    return source && std::abs(*source - *onCard->seconds) <= 1.0;
}

Holder Matcher::holder(const std::vector<const ConversionPlan::Item*>& tracks,
                       const std::filesystem::path& cardFile) {
    const std::optional<CardFile>& onCard = card(cardFile);
    if (AudioFacts::isStray(cardFile, onCard)) return Holder::nobody;
    if (!onCard->tagged()) return Holder::another;  // of a kind whose tags are not read here
    for (const ConversionPlan::Item* track : tracks) {
        if (naming(*onCard, track->meta) == Naming::same) return Holder::album;
    }
    for (const ConversionPlan::Item* track : tracks) {
        if (sameTrack(*track, cardFile)) return Holder::album;
    }
    return Holder::another;
}

}  // namespace tarvik::CardTrackMatch
