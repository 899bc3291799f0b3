#include "Core/Profiles/LegacyProfileV2.hpp"

#include <limits>
#include <utility>
#include <vector>

#include "Core/Platform/Text.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {
namespace {

constexpr std::int64_t fallbackBitrate = 192;

// Exactly ASCII digits, leading zeros allowed, within the signed 64-bit range.
std::optional<std::int64_t> parseASCIIDigits(const std::vector<std::string>& clusters) {
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (const std::string& cluster : clusters) {
        if (cluster.size() != 1 || cluster[0] < '0' || cluster[0] > '9') return std::nullopt;
        const int digit = cluster[0] - '0';
        if (value > (largest - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

LegacyProfileV2 LegacyProfileV2::fromJson(const json::ObjectReader& object) {
    LegacyProfileV2 legacy;
    legacy.id = object.string("id");
    legacy.name = object.string("name");
    legacy.notes = object.optionalString("notes");
    legacy.codec = object.optionalString("codec");
    legacy.bitrate = object.optionalString("bitrate");
    legacy.sampleRate = object.optionalInteger("sample_rate");
    legacy.tagFormat = object.optionalString("tag_format");
    legacy.tagEncoding = object.optionalString("tag_encoding");
    legacy.id3v1 = object.optionalBoolean("id3v1");
    legacy.artwork = object.optionalBoolean("artwork");
    legacy.artworkMaxPx = object.optionalInteger("artwork_max_px");
    legacy.rootFolder = object.optionalString("root_folder");
    legacy.layout = object.optionalString("layout");
    legacy.nameMax = object.optionalInteger("name_max");
    legacy.asciiOnly = object.optionalBoolean("ascii_only");
    legacy.maxFilesPerFolder = object.optionalInteger("max_files_per_folder");
    return legacy;
}

std::int64_t LegacyProfileV2::bitrateKbps(const std::optional<std::string>& text) {
    // Units, separators and signs are dropped by keeping only the characters
    // that start with a numeric scalar; what is left must then be a plain
    // ASCII number, so full-width or superscript digits fall back.
    std::vector<std::string> kept;
    for (std::string& cluster : text::graphemes(text.value_or("192k"))) {
        const std::u32string scalars = text::scalars(cluster);
        if (!scalars.empty() && text::hasNumericType(scalars.front())) {
            kept.push_back(std::move(cluster));
        }
    }
    if (kept.empty()) return fallbackBitrate;
    return parseASCIIDigits(kept).value_or(fallbackBitrate);
}

DeviceProfile::DeviceProfile(const LegacyProfileV2& legacy) : id(legacy.id), name(legacy.name) {
    // Unlike the current form, an unknown enumeration text falls back to the
    // default rather than failing: the earlier version wrote free text.
    notes = legacy.notes.value_or("");
    if (legacy.codec == "aac") audio.codec = Audio::Codec::aac;
    audio.bitrate = LegacyProfileV2::bitrateKbps(legacy.bitrate);
    audio.sampleRate = legacy.sampleRate.value_or(audio.sampleRate);
    // AAC carries MP4 tags and nothing else: an AAC profile that names no
    // format of its own must not fall back to ID3, which no export or save
    // of it would accept.
    const std::optional<Tags::Format> format =
        legacy.tagFormat ? tagFormatFromRaw(*legacy.tagFormat) : std::nullopt;
    if (format) {
        tags.format = *format;
    } else if (audio.codec == Audio::Codec::aac) {
        tags.format = Tags::Format::mp4;
    }
    if (legacy.tagEncoding) {
        tags.encoding = tagEncodingFromRaw(*legacy.tagEncoding).value_or(tags.encoding);
    }
    tags.id3v1 = legacy.id3v1.value_or(tags.id3v1);
    tags.artwork.enabled = legacy.artwork.value_or(tags.artwork.enabled);
    tags.artwork.maxPx = legacy.artworkMaxPx.value_or(tags.artwork.maxPx);
    files.root = legacy.rootFolder.value_or(files.root);
    if (legacy.layout) files.layout = layoutFromRaw(*legacy.layout).value_or(files.layout);
    files.nameMax = legacy.nameMax.value_or(files.nameMax);
    files.asciiOnly = legacy.asciiOnly.value_or(files.asciiOnly);
    files.maxPerFolder = legacy.maxFilesPerFolder.value_or(files.maxPerFolder);
}

}  // namespace tarvik
