// The planned export: the tracks to write in conversion order, each with its
// card path and duplicate key, and the albums they belong to. Plain values
// built by the planner, safe to copy and share across threads once built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Core/Naming/TrackMeta.hpp"

namespace tarvik {

// One album of a plan: a track record's album artist and album title, compared
// as exact texts.
struct AlbumKey {
    std::string albumArtist;
    std::string album;

    bool operator==(const AlbumKey&) const = default;
};

struct ConversionPlan {
    struct Item {
        std::filesystem::path source;  // the audio file to convert
        TrackMeta meta;                // what the output is named and tagged from
        std::string key;               // duplicate key, unique within a plan
        std::string relativePath;      // "/"-separated card path, file name included
        std::int64_t albumIndex = 0;   // index into `albums`
        // The record as the library gave it, where a lookup changed it since:
        // a card an earlier run wrote without the lookup holds this one.
        std::optional<TrackMeta> library = std::nullopt;

        const TrackMeta& libraryMeta() const { return library ? *library : meta; }
        bool operator==(const Item&) const = default;
    };

    std::vector<Item> items;
    std::int64_t duplicates = 0;  // read tracks left out because their place was taken
    std::vector<AlbumKey> albums;

    bool operator==(const ConversionPlan&) const = default;
};

}  // namespace tarvik

template <>
struct std::hash<tarvik::AlbumKey> {
    std::size_t operator()(const tarvik::AlbumKey& key) const noexcept {
        const std::size_t first = std::hash<std::string>()(key.albumArtist);
        return first ^ (std::hash<std::string>()(key.album) + 0x9e3779b97f4a7c15ULL + (first << 6) +
                        (first >> 2));
    }
};
