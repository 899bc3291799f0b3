// One model of car navigation unit: the audio it plays, the tags it reads, the
// card layout and names it accepts and the card it takes. A plain value that
// every holder copies; safe on any thread as values are. Reading from JSON
// throws DecodingError (naming the key) and never yields a partial profile;
// writing cannot fail. Files without "schemaVersion" are the older flat form
// and are migrated on reading (LegacyProfileV2).
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Naming/SafeName.hpp"
#include "Core/Platform/Json.hpp"

namespace tarvik {

struct LegacyProfileV2;

struct DeviceProfile {
    // Each nested record reads its own object, with the path errors report.
    // A confirmation on a real unit; both members are always present.
    struct Verified {
        std::string date;  // any text; the editor writes "yyyy-MM-dd"
        std::string note;

        static Verified fromJson(const json::ObjectReader& object);
        nlohmann::json toJson() const;
        bool operator==(const Verified&) const = default;
    };

    struct Audio {
        enum class Codec { mp3, aac };  // aac means AAC in an M4A container

        Codec codec = Codec::mp3;
        std::int64_t bitrate = 192;  // kbit/s, constant
        std::int64_t sampleRate = 44100;

        static Audio fromJson(const json::ObjectReader& object);
        nlohmann::json toJson() const;
        bool operator==(const Audio&) const = default;
    };

    struct Tags {
        enum class Format { id3v2_3, id3v2_4, mp4, id3v1 };
        enum class Encoding { utf16, utf8, latin1, shiftJIS };

        struct Artwork {
            bool enabled = false;
            std::int64_t maxPx = 300;  // widest cover, in pixels

            static Artwork fromJson(const json::ObjectReader& object);
            nlohmann::json toJson() const;
            bool operator==(const Artwork&) const = default;
        };

        Format format = Format::id3v2_3;
        Encoding encoding = Encoding::utf16;
        bool id3v1 = false;  // an ID3v1 tag besides the main one
        Artwork artwork;

        static Tags fromJson(const json::ObjectReader& object);
        nlohmann::json toJson() const;
        bool operator==(const Tags&) const = default;
    };

    struct Files {
        enum class Layout { artistAlbum, album, flat, artist };

        std::string root = "MUSIC";
        Layout layout = Layout::artistAlbum;
        std::int64_t nameMax = 60;  // Unicode scalars
        bool asciiOnly = false;
        std::int64_t maxPerFolder = 0;  // 0: no limit
        std::int64_t maxDepth = 8;
        std::optional<std::int64_t> displayWidthMax;  // display columns; absent: no limit

        static Files fromJson(const json::ObjectReader& object);
        nlohmann::json toJson() const;
        bool operator==(const Files&) const = default;
    };

    struct Media {
        std::string filesystem = "fat32";
        std::int64_t maxCardGB = 32;

        static Media fromJson(const json::ObjectReader& object);
        nlohmann::json toJson() const;
        bool operator==(const Media&) const = default;
    };

    std::int64_t schemaVersion = 1;
    std::string id;
    std::string name;
    std::string notes;
    std::optional<Verified> verified;
    Audio audio;
    Tags tags;
    Files files;
    Media media;
    // Set by the profile store, never stored in a file.
    bool isBuiltin = false;
    std::optional<std::filesystem::path> fileURL;

    // Every other member at its default.
    DeviceProfile(std::string id, std::string name);
    // The migration of a profile in the older flat form; cannot fail.
    explicit DeviceProfile(const LegacyProfileV2& legacy);

    // Reads the profile's object, current or older form.
    static DeviceProfile fromJson(const nlohmann::json& value);
    // The current form; isBuiltin and fileURL are not written.
    nlohmann::json toJson() const;

    // The limits every card-safe name of this profile is made under.
    SafeName::Rules nameRules() const;
    // Extension of output files, without the dot: "mp3" or "m4a".
    std::string fileExtension() const;

    // All members, isBuiltin and fileURL included: the same file loaded from
    // two places gives two unequal profiles with one id.
    bool operator==(const DeviceProfile&) const = default;
};

// Stored forms of the enumerations; reading accepts the exact text only.
std::string rawValue(DeviceProfile::Audio::Codec codec);
std::string rawValue(DeviceProfile::Tags::Format format);
std::string rawValue(DeviceProfile::Tags::Encoding encoding);
std::string rawValue(DeviceProfile::Files::Layout layout);
std::optional<DeviceProfile::Audio::Codec> codecFromRaw(std::string_view raw);
std::optional<DeviceProfile::Tags::Format> tagFormatFromRaw(std::string_view raw);
std::optional<DeviceProfile::Tags::Encoding> tagEncodingFromRaw(std::string_view raw);
std::optional<DeviceProfile::Files::Layout> layoutFromRaw(std::string_view raw);

}  // namespace tarvik
