// A profile file as the earlier version of the application wrote it: one flat
// object with snake_case keys, the bit rate as text and no version key. It is
// only ever read, and at once migrated into a DeviceProfile (the migration has
// a fallback for every value and cannot fail). Reading throws DecodingError
// when "id" or "name" is missing or a key holds the wrong JSON type. A plain
// value; safe on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Core/Platform/Json.hpp"

namespace tarvik {

struct LegacyProfileV2 {
    std::string id;                                 // "id"
    std::string name;                               // "name"
    std::optional<std::string> notes;               // "notes"
    std::optional<std::string> codec;               // "codec"
    std::optional<std::string> bitrate;             // "bitrate", such as "192k"
    std::optional<std::int64_t> sampleRate;         // "sample_rate"
    std::optional<std::string> tagFormat;           // "tag_format"
    std::optional<std::string> tagEncoding;         // "tag_encoding"
    std::optional<bool> id3v1;                      // "id3v1"
    std::optional<bool> artwork;                    // "artwork"
    std::optional<std::int64_t> artworkMaxPx;       // "artwork_max_px"
    std::optional<std::string> rootFolder;          // "root_folder"
    std::optional<std::string> layout;              // "layout"
    std::optional<std::int64_t> nameMax;            // "name_max"
    std::optional<bool> asciiOnly;                  // "ascii_only"
    std::optional<std::int64_t> maxFilesPerFolder;  // "max_files_per_folder"

    // Absent and null optional keys read as absent; other keys are ignored.
    static LegacyProfileV2 fromJson(const json::ObjectReader& object);

    // The bit rate in kbit/s that an older text such as "320k" or "1,411"
    // stood for; 192 when the text holds no plain ASCII number.
    static std::int64_t bitrateKbps(const std::optional<std::string>& text);

    bool operator==(const LegacyProfileV2&) const = default;
};

}  // namespace tarvik
