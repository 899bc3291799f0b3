// The normalised tag record of one track: what an export writes into tags and
// makes card names from, what title lookup corrects and what tidy journals
// keep. A plain value, safe to copy across threads; building it from a file's
// tags is pure and never fails, falling back to the file and folder names.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "Core/Naming/SourceTags.hpp"

namespace tarvik {

struct TrackMeta {
    std::string title;
    std::string artist;
    std::string albumArtist;
    std::string album;
    std::string track;  // empty, "0", or a number without leading zeros
    std::string disc;
    std::string date;
    std::string genre;

    TrackMeta() = default;
    TrackMeta(std::string title, std::string artist, std::string albumArtist, std::string album,
              std::string track, std::string disc, std::string date, std::string genre);

    // The record of the file at `url` with the raw `tags`: values cleaned, a
    // listed-twice artist collapsed, zeros stripped from track and disc; an
    // empty title or track is guessed from the file name, an empty artist and
    // album taken from the artist and album folders above the file.
    TrackMeta(const SourceTags& tags, const std::filesystem::path& url);

    // All eight fields equal under canonical equivalence.
    bool operator==(const TrackMeta& other) const;

    // One object whose keys are the eight member names, each a string.
    nlohmann::json toJSON() const;
    // All eight keys required and strings, other keys ignored; throws
    // DecodingError naming the key under `path`.
    static TrackMeta fromJSON(const nlohmann::json& value, const std::string& path = {});
};

void to_json(nlohmann::json& value, const TrackMeta& meta);
void from_json(const nlohmann::json& value, TrackMeta& meta);

}  // namespace tarvik

// Consistent with equality: the NFC forms of the eight fields, in field order.
template <>
struct std::hash<tarvik::TrackMeta> {
    std::size_t operator()(const tarvik::TrackMeta& meta) const;
};
