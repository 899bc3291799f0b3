// Turns the read track records of an export into a ConversionPlan under one
// device profile: album artists evened out within an album folder, duplicates
// dropped, albums listed and numbered, folders kept under the profile's file
// limit with overflow folders, and a second pass after title corrections.
// Pure computations on values: no file system, no errors, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {

struct Planner {
    // One read track, in the scanner's order.
    struct Track {
        std::filesystem::path source;
        TrackMeta meta;

        bool operator==(const Track&) const = default;
    };

    // Replacement records by position: in the input list before the first
    // pass, in the first pass's items before the final one.
    using Corrections = std::unordered_map<std::size_t, TrackMeta>;
    // Files placed so far per exact folder text, for the per-folder limit.
    using FolderCounts = std::unordered_map<std::string, std::int64_t>;
    // The overflow folder that currently receives a full folder's files.
    using FolderRedirects = std::unordered_map<std::string, std::string>;

    DeviceProfile profile;

    // Within one source folder, tracks of one album (titles compared loosely)
    // that carry different album artists get the one most of them carry; a
    // track artist written like one of the others follows. `sources` and
    // `metas` have the same length and order; only changed positions appear.
    static Corrections unifyAlbumArtists(const std::vector<std::filesystem::path>& sources,
                                         const std::vector<TrackMeta>& metas);

    // The first pass: items album by album (albums in order of their first
    // track), tracks of an album in input order.
    ConversionPlan plan(const std::vector<Track>& tracks) const;

    // The pass after corrections keyed by item index: the album list and the
    // album slots stay; a correction whose key is taken gives way to the
    // item's own record.
    ConversionPlan planFinal(const ConversionPlan& firstPass, const Corrections& corrections) const;

    // Under the "artist" layout each album's number among its album artist's
    // albums, by title in name order; 0 for every album otherwise.
    std::vector<std::int64_t> albumNumbers(const std::vector<AlbumKey>& albums) const;

    // The card path of one track, moved to an overflow folder ("F 2", "F 3", ...)
    // when its folder holds the profile's limit. `albumIndex` is 1-based.
    std::string splitFolder(const TrackMeta& meta, std::int64_t albumIndex,
                            std::int64_t albumNumber, FolderCounts& counts,
                            FolderRedirects& redirects) const;

    // Where the track would land on a card without limits: equal keys mean one
    // song, planned once. Songs that only the card's limits make alike have
    // different keys; the pass gives them different folders or file names.
    std::string duplicateKey(const TrackMeta& meta) const;
};

}  // namespace tarvik
