// Corrects the tag records of one album's tracks against a music catalogue
// before they are written: variant forms of titles, artist and album names
// give way to the catalogue's form, and year and genre are filled in from it.
// A name is only ever replaced by one that is the same text after
// normalisation, never by another number or another version of it, and a
// song's only by a record of the same artist. A track takes a year only from
// its own album by the same artist, and numbers and discs only from an
// edition that is the album track for track; no two songs of an album ever
// come back on one disc and number that the user had apart. Stateless; asks
// its catalogue one question at a time on the calling thread and never
// throws. It does not test the stop token itself: a stopped catalogue
// answers with empty lists, which leave tracks unchanged.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Catalog/CatalogRecord.hpp"
#include "Core/Catalog/MusicCatalog.hpp"
#include "Core/Naming/TrackMeta.hpp"

namespace tarvik::TitleFixer {

struct Outcome {
    std::vector<TrackMeta> metas;   // same length and order as the input
    std::set<std::size_t> matched;  // positions corrected from a catalogue record

    bool operator==(const Outcome&) const = default;
};

// "Various Artists" and "ヴァリアス・アーティスト".
const std::set<std::string>& compilationArtists();

// The song path: a match needs this title similarity (and the same artist);
// the album fields follow a single track only at this album similarity.
inline constexpr double songTitleScore = 0.85;
inline constexpr double songAlbumScore = 0.7;
// The album path: which search results are candidates, and how many of them
// are looked up.
inline constexpr double candidateArtistScore = 0.6;
inline constexpr double candidateAlbumScore = 0.5;
inline constexpr double compilationArtistFloor = 0.7;
inline constexpr std::size_t maxCandidates = 3;
// Per-track matching within an album; agreeing numbers lower the bar.
inline constexpr double trackTitleScore = 0.8;
inline constexpr double numberedTrackTitleScore = 0.6;
inline constexpr double numbersAgreeBonus = 0.1;
// An album is accepted when half its tracks match, and at least two.
inline constexpr double acceptedShare = 0.5;
inline constexpr std::size_t acceptedMinimum = 2;

Outcome fix(const std::vector<TrackMeta>& tracks, MusicCatalog& catalog, std::stop_token stop);

// For each track position, the record of the track's artist (or the album
// artist's, on one artist's album) whose title fits best, if any fits. A
// record goes to one track at most: to the one it fits best, the first of
// equals; a track whose best record another took gets none.
std::map<std::size_t, CatalogRecord> matchTracks(const std::vector<TrackMeta>& tracks,
                                                 const CatalogRecords& records);

// The track with the record's names where they are the same text, and the
// record's year and genre; with `albumToo` also album, numbers and album artist.
TrackMeta corrected(const TrackMeta& track, const CatalogRecord& record, bool albumToo);

}  // namespace tarvik::TitleFixer
