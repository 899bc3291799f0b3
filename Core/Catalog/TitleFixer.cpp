#include "Core/Catalog/TitleFixer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>

#include "Core/Naming/TextNormalizer.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::TitleFixer {
namespace {

using TextNormalizer::same;
using TextNormalizer::similar;
using TextNormalizer::similarity;

const std::string& orEmpty(const std::optional<std::string>& value) {
    static const std::string empty;
    return value ? *value : empty;
}

std::string decimal(std::int64_t number) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, number);
    return std::string(digits, written.ptr);
}

bool isCompilation(const std::string& artist) {
    return compilationArtists().contains(text::nfc(artist));
}

// How well a catalogue name fits the user's. Where two fit equally, the one
// whose whole key is the user's beats one that is equal only without its
// bracketed parts: "Song (feat. X)" is the record for "Song (feat. X)", and
// "Seeds" the album for "Seeds", even after "Song" or "Seeds (Deluxe)".
struct Fit {
    double score = 0;
    bool exact = false;

    bool beats(const Fit& other) const {
        return score > other.score || (score == other.score && exact && !other.exact);
    }
};

bool sameKey(const std::string& mine, const std::string& theirs) {
    return TextNormalizer::key(mine) == TextNormalizer::key(theirs);
}

bool exactTitle(const std::string& title, const std::string& trackName) {
    return sameKey(title, TextNormalizer::cleanTitle(trackName));
}

struct Candidate {
    const CatalogRecord* record;
    Fit total;
};

// Album search results that are close enough in artist and album, best first;
// equal ones keep the catalogue's order.
std::vector<Candidate> albumCandidates(const TrackMeta& first, const CatalogRecords& albums) {
    std::vector<Candidate> candidates;
    for (const CatalogRecord& record : albums) {
        double artistScore = similarity(first.albumArtist, orEmpty(record.artistName));
        if (record.artistName && isCompilation(*record.artistName)) {
            artistScore = std::max(artistScore, compilationArtistFloor);
        }
        const std::string album = TextNormalizer::cleanAlbum(orEmpty(record.collectionName));
        const double albumScore = similarity(first.album, album);
        if (artistScore >= candidateArtistScore && albumScore >= candidateAlbumScore) {
            candidates.push_back(
                {&record, {artistScore + albumScore, sameKey(first.album, album)}});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.total.beats(b.total); });
    return candidates;
}

// The artist a record names for an album: its album artist, or its artist
// where it gives none.
std::string recordAlbumArtist(const CatalogRecord& record) {
    return TextNormalizer::clean(record.collectionArtistName ? *record.collectionArtistName
                                                             : orEmpty(record.artistName));
}

// Whether the album is one artist's: no compilation, and every song's
// artist names the album artist, as a guest's song does ("Cy Dunn feat.
// Oleta" on Cy Dunn's album). Songs of others under one name, a tribute or
// a soundtrack, are not that artist's songs.
bool oneArtist(const std::vector<TrackMeta>& tracks) {
    return std::ranges::all_of(tracks, [](const TrackMeta& track) {
        const std::string albumArtist = TextNormalizer::key(track.albumArtist);
        return !albumArtist.empty() && !isCompilation(track.albumArtist) &&
               TextNormalizer::key(track.artist).find(albumArtist) != std::string::npos;
    });
}

// A record is the song of a track only when it is by the track's artist, or
// by the album's artist on one artist's album (a guest's song): in a
// compilation, another artist's "Yesterdays" is not this "Yesterday". A near
// name is another artist.
bool sameArtist(const TrackMeta& track, const CatalogRecord& record, bool oneArtistAlbum) {
    const std::string artist = TextNormalizer::clean(orEmpty(record.artistName));
    return same(track.artist, artist) || (oneArtistAlbum && same(track.albumArtist, artist));
}

// Whether the record's album is the track's: the same name by the same album
// artist. Only that album's year is the track's year.
bool sameAlbum(const TrackMeta& track, const CatalogRecord& record) {
    const std::string artist = recordAlbumArtist(record);
    return similar(track.album, TextNormalizer::cleanAlbum(orEmpty(record.collectionName))) &&
           (same(track.albumArtist, artist) ||
            (isCompilation(artist) && isCompilation(track.albumArtist)));
}

// Whether the catalogue's edition is the user's album track for track: every
// track matched to a record of its own, and each disc of the edition holding
// as many songs as the tracks matched to it. Only then are the edition's
// numbers and discs the album's; a track it lacks would otherwise keep a
// number one of the edition's songs now takes.
bool wholeEdition(std::size_t trackCount, const std::map<std::size_t, CatalogRecord>& matches,
                  const CatalogRecords& edition) {
    if (matches.size() != trackCount) return false;
    std::map<std::int64_t, std::size_t> editionDiscs, matchedDiscs;
    for (const CatalogRecord& record : edition) ++editionDiscs[record.discNumber.value_or(1)];
    for (const auto& [position, record] : matches) ++matchedDiscs[record.discNumber.value_or(1)];
    return editionDiscs == matchedDiscs;
}

// How many tracks share a disc and number with an earlier one; an empty disc
// is the first.
std::size_t numberClashes(const std::vector<TrackMeta>& metas) {
    std::set<std::pair<std::string, std::string>> seen;
    std::size_t clashes = 0;
    for (const TrackMeta& meta : metas) {
        if (meta.track.empty()) continue;
        if (!seen.emplace(meta.disc.empty() ? "1" : meta.disc, meta.track).second) ++clashes;
    }
    return clashes;
}

bool accepts(std::size_t trackCount, std::size_t matches) {
    const double half = static_cast<double>(trackCount) * acceptedShare;
    if (half >= static_cast<double>(acceptedMinimum)) return static_cast<double>(matches) >= half;
    return matches >= acceptedMinimum;
}

std::optional<Outcome> albumPath(const std::vector<TrackMeta>& tracks, MusicCatalog& catalog,
                                 std::stop_token stop) {
    const CatalogRecords albums =
        catalog.searchAlbums(tracks.front().albumArtist, tracks.front().album, stop);
    const std::vector<Candidate> candidates = albumCandidates(tracks.front(), albums);

    std::map<std::size_t, CatalogRecord> best;
    CatalogRecords bestEdition;
    const std::size_t considered = std::min(candidates.size(), maxCandidates);
    for (std::size_t c = 0; c < considered && best.size() < tracks.size(); ++c) {
        const CatalogRecord& candidate = *candidates[c].record;
        if (!candidate.collectionId) continue;
        CatalogRecords songs = catalog.lookupTracks(*candidate.collectionId, stop);
        // An answer about another album is no answer about this one.
        if (!CatalogJson::answersFor(songs, *candidate.collectionId)) continue;
        auto matches = matchTracks(tracks, songs);
        if (matches.size() > best.size()) {
            best = std::move(matches);
            bestEdition = std::move(songs);
        }
    }
    if (!accepts(tracks.size(), best.size())) return std::nullopt;

    const bool renumber = wholeEdition(tracks.size(), best, bestEdition);
    Outcome outcome{tracks, {}};
    for (const auto& [position, record] : best) {
        TrackMeta& fixed = outcome.metas[position] = corrected(tracks[position], record, true);
        // Another album's year is not this album's: a live recording a year
        // later, or a reissue, keeps the year the user gave it.
        if (!sameAlbum(tracks[position], record)) fixed.date = tracks[position].date;
        if (!renumber) {
            fixed.track = tracks[position].track;
            fixed.disc = tracks[position].disc;
        }
        outcome.matched.insert(position);
    }
    // The tracks the catalogue did not know still belong to the same album.
    const TrackMeta reference = outcome.metas[*outcome.matched.begin()];
    for (std::size_t position = 0; position < tracks.size(); ++position) {
        if (outcome.matched.contains(position)) continue;
        outcome.metas[position].album = reference.album;
        outcome.metas[position].albumArtist = reference.albumArtist;
    }
    return outcome;
}

void songPath(Outcome& outcome, std::size_t position, bool oneArtistAlbum, MusicCatalog& catalog,
              std::stop_token stop) {
    const TrackMeta track = outcome.metas[position];
    const CatalogRecords songs = catalog.searchSongs(track.artist, track.title, stop);
    if (track.title.empty()) return;

    const CatalogRecord* best = nullptr;
    Fit bestFit;
    for (const CatalogRecord& record : songs) {
        if (record.wrapperType != "track" || orEmpty(record.trackName).empty()) continue;
        const Fit fit{similarity(track.title, *record.trackName),
                      exactTitle(track.title, *record.trackName)};
        if (fit.score < songTitleScore || !sameArtist(track, record, oneArtistAlbum)) continue;
        if (best == nullptr || fit.beats(bestFit)) {
            best = &record;
            bestFit = fit;
        }
    }
    if (best == nullptr) return;

    const bool albumToo =
        outcome.metas.size() == 1 &&
        similarity(track.album, TextNormalizer::cleanAlbum(orEmpty(best->collectionName))) >=
            songAlbumScore;
    TrackMeta fixed = corrected(track, *best, albumToo);
    // A song found by itself is never an edition track for track, not even
    // the lone song of an album: its place among the store's songs is not
    // its place on the user's album.
    fixed.track = track.track;
    fixed.disc = track.disc;
    // The song as another album has it: "Live at the Budokan II" is not the
    // year of the first night's record.
    if (!sameAlbum(track, *best)) fixed.date = track.date;
    outcome.metas[position] = std::move(fixed);
    outcome.matched.insert(position);
}

}  // namespace

const std::set<std::string>& compilationArtists() {
    static const std::set<std::string> names = {"Various Artists",
                                                text::nfc("ヴァリアス・アーティスト")};
    return names;
}

Outcome fix(const std::vector<TrackMeta>& tracks, MusicCatalog& catalog, std::stop_token stop) {
    std::optional<Outcome> outcome;
    if (tracks.size() >= 2) outcome = albumPath(tracks, catalog, stop);
    if (!outcome) {
        outcome = Outcome{tracks, {}};
        const bool oneArtistAlbum = oneArtist(tracks);
        for (std::size_t position = 0; position < tracks.size(); ++position) {
            songPath(*outcome, position, oneArtistAlbum, catalog, stop);
        }
    }
    // Two songs of one album on one disc and number would play out of order
    // on the unit, whatever the catalogue said: the user's numbers stand.
    if (numberClashes(outcome->metas) > numberClashes(tracks)) {
        for (std::size_t position = 0; position < tracks.size(); ++position) {
            outcome->metas[position].track = tracks[position].track;
            outcome->metas[position].disc = tracks[position].disc;
        }
    }
    return *outcome;
}

std::map<std::size_t, CatalogRecord> matchTracks(const std::vector<TrackMeta>& tracks,
                                                 const CatalogRecords& records) {
    struct Choice {
        std::size_t record;
        Fit fit;
    };
    std::map<std::size_t, Choice> chosen;        // by track position
    std::map<std::size_t, std::size_t> takenBy;  // record index -> track position
    const bool oneArtistAlbum = oneArtist(tracks);
    for (std::size_t position = 0; position < tracks.size(); ++position) {
        const TrackMeta& track = tracks[position];
        std::optional<Choice> best;
        for (std::size_t r = 0; r < records.size(); ++r) {
            const CatalogRecord& record = records[r];
            const std::string& name = orEmpty(record.trackName);
            if (!sameArtist(track, record, oneArtistAlbum)) continue;
            const double score =
                track.title.empty() || name.empty() ? 0 : similarity(track.title, name);
            const bool numbersAgree =
                !track.track.empty() && track.track == decimal(record.trackNumber.value_or(-1)) &&
                (track.disc.empty() || track.disc == decimal(record.discNumber.value_or(1)));
            if (score < (numbersAgree ? numberedTrackTitleScore : trackTitleScore)) continue;
            const Fit fit{numbersAgree ? score + numbersAgreeBonus : score,
                          exactTitle(track.title, name)};
            if (!best || fit.beats(best->fit)) best = Choice{r, fit};
        }
        if (!best) continue;
        // One record is one song: two tracks that both fit it best are two
        // songs, and only the one that fits better is that record. The other
        // keeps its own title, number and disc rather than take another's.
        const auto taken = takenBy.find(best->record);
        if (taken != takenBy.end()) {
            if (!best->fit.beats(chosen.at(taken->second).fit)) continue;
            chosen.erase(taken->second);
        }
        takenBy[best->record] = position;
        chosen.emplace(position, *best);
    }
    std::map<std::size_t, CatalogRecord> result;
    for (const auto& [position, choice] : chosen) result.emplace(position, records[choice.record]);
    return result;
}

TrackMeta corrected(const TrackMeta& track, const CatalogRecord& record, bool albumToo) {
    TrackMeta result = track;
    // similar() is never true for an empty key of the track's own value, so
    // an empty name is never filled in from the catalogue.
    if (std::string title = TextNormalizer::cleanTitle(orEmpty(record.trackName));
        similar(track.title, title)) {
        result.title = std::move(title);
    }
    if (std::string artist = TextNormalizer::clean(orEmpty(record.artistName));
        similar(track.artist, artist)) {
        result.artist = std::move(artist);
    }
    if (albumToo) {
        if (std::string album = TextNormalizer::cleanAlbum(orEmpty(record.collectionName));
            similar(track.album, album)) {
            result.album = std::move(album);
            if (record.trackNumber && *record.trackNumber != 0) {
                result.track = decimal(*record.trackNumber);
            }
            if (record.discNumber && *record.discNumber != 0) {
                result.disc = decimal(*record.discNumber);
            }
        }
        std::string albumArtist = recordAlbumArtist(record);
        if (similar(track.albumArtist, albumArtist) || isCompilation(albumArtist)) {
            result.albumArtist = std::move(albumArtist);
        }
    }
    if (record.releaseDate && text::graphemeCount(*record.releaseDate) >= 4) {
        result.date = text::prefixGraphemes(*record.releaseDate, 4);
    }
    if (record.primaryGenreName && !record.primaryGenreName->empty()) {
        result.genre = *record.primaryGenreName;
    }
    return result;
}

}  // namespace tarvik::TitleFixer
