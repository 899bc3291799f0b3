#include "Core/Profiles/DeviceProfile.hpp"

#include <array>
#include <utility>

#include "Core/Platform/Json.hpp"
#include "Core/Profiles/LegacyProfileV2.hpp"

namespace tarvik {
namespace {

using Codec = DeviceProfile::Audio::Codec;
using Format = DeviceProfile::Tags::Format;
using Encoding = DeviceProfile::Tags::Encoding;
using Layout = DeviceProfile::Files::Layout;

template <typename Enum, std::size_t N>
using RawTable = std::array<std::pair<Enum, std::string_view>, N>;

constexpr RawTable<Codec, 2> codecs{{{Codec::mp3, "mp3"}, {Codec::aac, "aac"}}};
constexpr RawTable<Format, 4> formats{{{Format::id3v2_3, "id3v2.3"},
                                       {Format::id3v2_4, "id3v2.4"},
                                       {Format::mp4, "mp4"},
                                       {Format::id3v1, "id3v1"}}};
constexpr RawTable<Encoding, 4> encodings{{{Encoding::utf16, "utf16"},
                                           {Encoding::utf8, "utf8"},
                                           {Encoding::latin1, "latin1"},
                                           {Encoding::shiftJIS, "shift_jis"}}};
constexpr RawTable<Layout, 4> layouts{{{Layout::artistAlbum, "artist/album"},
                                       {Layout::album, "album"},
                                       {Layout::flat, "flat"},
                                       {Layout::artist, "artist"}}};

template <typename Enum, std::size_t N>
std::string rawOf(const RawTable<Enum, N>& table, Enum value) {
    for (const auto& [candidate, raw] : table) {
        if (candidate == value) return std::string(raw);
    }
    return {};  // unreachable for a valid enumerator
}

template <typename Enum, std::size_t N>
std::optional<Enum> fromRaw(const RawTable<Enum, N>& table, std::string_view text) {
    for (const auto& [value, raw] : table) {
        if (raw == text) return value;
    }
    return std::nullopt;
}

// A stored enumeration: its text must be one of the raw values exactly.
template <typename Enum>
Enum readEnum(const json::ObjectReader& object, std::string_view key,
              std::optional<Enum> (*convert)(std::string_view)) {
    const std::string text = object.string(key);
    if (auto value = convert(text)) return *value;
    throw DecodingError(DecodingError::Kind::dataCorrupted, object.pathOf(key),
                        "「" + text + "」は使えない値です");
}

// The nested records are either read whole or, when absent or null, left at
// their defaults; there are no per-key defaults inside them.
template <typename Record>
void readNested(const json::ObjectReader& top, std::string_view key, Record& record) {
    if (top.hasValue(key)) record = Record::fromJson(top.object(key));
}

}  // namespace

std::string rawValue(Codec codec) {
    return rawOf(codecs, codec);
}
std::string rawValue(Format format) {
    return rawOf(formats, format);
}
std::string rawValue(Encoding encoding) {
    return rawOf(encodings, encoding);
}
std::string rawValue(Layout layout) {
    return rawOf(layouts, layout);
}
std::optional<Codec> codecFromRaw(std::string_view raw) {
    return fromRaw(codecs, raw);
}
std::optional<Format> tagFormatFromRaw(std::string_view raw) {
    return fromRaw(formats, raw);
}
std::optional<Encoding> tagEncodingFromRaw(std::string_view raw) {
    return fromRaw(encodings, raw);
}
std::optional<Layout> layoutFromRaw(std::string_view raw) {
    return fromRaw(layouts, raw);
}

DeviceProfile::Verified DeviceProfile::Verified::fromJson(const json::ObjectReader& object) {
    Verified verified;
    verified.date = object.string("date");
    verified.note = object.string("note");
    return verified;
}

nlohmann::json DeviceProfile::Verified::toJson() const {
    nlohmann::json object = nlohmann::json::object();
    object["date"] = date;
    object["note"] = note;
    return object;
}

DeviceProfile::Audio DeviceProfile::Audio::fromJson(const json::ObjectReader& object) {
    Audio audio;
    audio.codec = readEnum(object, "codec", codecFromRaw);
    audio.bitrate = object.integer("bitrate");
    audio.sampleRate = object.integer("sampleRate");
    return audio;
}

nlohmann::json DeviceProfile::Audio::toJson() const {
    nlohmann::json object = nlohmann::json::object();
    object["codec"] = rawValue(codec);
    object["bitrate"] = bitrate;
    object["sampleRate"] = sampleRate;
    return object;
}

DeviceProfile::Tags::Artwork DeviceProfile::Tags::Artwork::fromJson(
    const json::ObjectReader& object) {
    Artwork artwork;
    artwork.enabled = object.boolean("enabled");
    artwork.maxPx = object.integer("maxPx");
    return artwork;
}

nlohmann::json DeviceProfile::Tags::Artwork::toJson() const {
    nlohmann::json object = nlohmann::json::object();
    object["enabled"] = enabled;
    object["maxPx"] = maxPx;
    return object;
}

DeviceProfile::Tags DeviceProfile::Tags::fromJson(const json::ObjectReader& object) {
    Tags tags;
    tags.format = readEnum(object, "format", tagFormatFromRaw);
    tags.encoding = readEnum(object, "encoding", tagEncodingFromRaw);
    tags.id3v1 = object.boolean("id3v1");
    tags.artwork = Artwork::fromJson(object.object("artwork"));
    return tags;
}

nlohmann::json DeviceProfile::Tags::toJson() const {
    nlohmann::json object = nlohmann::json::object();
    object["format"] = rawValue(format);
    object["encoding"] = rawValue(encoding);
    object["id3v1"] = id3v1;
    object["artwork"] = artwork.toJson();
    return object;
}

DeviceProfile::Files DeviceProfile::Files::fromJson(const json::ObjectReader& object) {
    Files files;
    files.root = object.string("root");
    files.layout = readEnum(object, "layout", layoutFromRaw);
    files.nameMax = object.integer("nameMax");
    files.asciiOnly = object.boolean("asciiOnly");
    files.maxPerFolder = object.integer("maxPerFolder");
    files.maxDepth = object.integer("maxDepth");
    files.displayWidthMax = object.optionalInteger("displayWidthMax");
    return files;
}

nlohmann::json DeviceProfile::Files::toJson() const {
    nlohmann::json object = nlohmann::json::object();
    object["root"] = root;
    object["layout"] = rawValue(layout);
    object["nameMax"] = nameMax;
    object["asciiOnly"] = asciiOnly;
    object["maxPerFolder"] = maxPerFolder;
    object["maxDepth"] = maxDepth;
    if (displayWidthMax) object["displayWidthMax"] = *displayWidthMax;
    return object;
}

DeviceProfile::Media DeviceProfile::Media::fromJson(const json::ObjectReader& object) {
    Media media;
    media.filesystem = object.string("filesystem");
    media.maxCardGB = object.integer("maxCardGB");
    return media;
}

nlohmann::json DeviceProfile::Media::toJson() const {
    nlohmann::json object = nlohmann::json::object();
    object["filesystem"] = filesystem;
    object["maxCardGB"] = maxCardGB;
    return object;
}

DeviceProfile::DeviceProfile(std::string id_, std::string name_)
    : id(std::move(id_)), name(std::move(name_)) {}

DeviceProfile DeviceProfile::fromJson(const nlohmann::json& value) {
    const json::ObjectReader object(value);
    // Files of the earlier version have no version key; they are read in their
    // own flat form only, even when they also hold nested objects.
    if (!object.contains("schemaVersion")) return DeviceProfile(LegacyProfileV2::fromJson(object));

    const std::int64_t schemaVersion = object.integer("schemaVersion");
    std::string id = object.string("id");
    std::string name = object.string("name");
    DeviceProfile profile(std::move(id), std::move(name));
    profile.schemaVersion = schemaVersion;
    profile.notes = object.optionalString("notes").value_or("");
    if (object.hasValue("verified")) {
        profile.verified = Verified::fromJson(object.object("verified"));
    }
    readNested(object, "audio", profile.audio);
    readNested(object, "tags", profile.tags);
    readNested(object, "files", profile.files);
    readNested(object, "media", profile.media);
    return profile;
}

nlohmann::json DeviceProfile::toJson() const {
    nlohmann::json object = nlohmann::json::object();
    object["schemaVersion"] = schemaVersion;
    object["id"] = id;
    object["name"] = name;
    object["notes"] = notes;
    if (verified) object["verified"] = verified->toJson();
    object["audio"] = audio.toJson();
    object["tags"] = tags.toJson();
    object["files"] = files.toJson();
    object["media"] = media.toJson();
    return object;
}

SafeName::Rules DeviceProfile::nameRules() const {
    return SafeName::Rules{.nameMax = files.nameMax,
                           .asciiOnly = files.asciiOnly,
                           .forMac = false,
                           .displayWidthMax = files.displayWidthMax.value_or(0),
                           .forJIS = tags.encoding == Encoding::shiftJIS};
}

std::string DeviceProfile::fileExtension() const {
    return audio.codec == Codec::aac ? "m4a" : "mp3";
}

}  // namespace tarvik
