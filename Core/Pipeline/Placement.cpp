#include "Core/Pipeline/Placement.hpp"

#include <cstdio>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "Core/Naming/SafeName.hpp"
#include "Core/Platform/NumberFormat.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::Placement {
namespace {

using Layout = DeviceProfile::Files::Layout;

// A whole decimal number: an optional sign, then ASCII digits and nothing else.
std::optional<std::int64_t> wholeNumber(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty()) return std::nullopt;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    return numbers::parseInteger(text);
}

// printf's "%0<width>d": zero-padded to `width` characters, a sign counting
// among them. Integer conversions never depend on the locale.
std::string padded(std::int64_t value, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", width, static_cast<long long>(value));
    return buffer;
}

std::string trackPrefix(const TrackMeta& meta) {
    const std::optional<std::int64_t> track = wholeNumber(meta.track);
    if (!track) return {};
    std::string prefix = padded(*track, 2) + " ";
    const std::optional<std::int64_t> disc = wholeNumber(meta.disc);
    if (disc && *disc >= 2) prefix = std::to_string(*disc) + "-" + prefix;
    return prefix;
}

std::string albumFallback(const DeviceProfile& profile, std::int64_t albumIndex) {
    if (profile.files.asciiOnly) return "Album " + padded(albumIndex, 4);
    return "Unknown Album";
}

// Makes one name component from a tag value and its fallback.
using Namer = std::function<std::string(std::string_view name, std::string_view fallback)>;

// A tag value cleaned and made card-safe as the card name is, but never cut,
// folded or mapped: what tells two songs apart before the card's limits do.
std::string keyName(std::string_view name, std::string_view fallback) {
    std::string result = SafeName::clean(name);
    return result.empty() ? std::string(fallback) : result;
}

Location locate(const TrackMeta& meta, const DeviceProfile& profile, const std::string& album,
                std::int64_t albumNumber, const Namer& name) {
    const Layout layout = profile.files.layout;
    const std::string artist = name(meta.albumArtist, "Unknown Artist");

    std::vector<std::string> components;
    if (!profile.files.root.empty()) components.push_back(profile.files.root);
    if (layout == Layout::artistAlbum || layout == Layout::artist) components.push_back(artist);
    if (layout == Layout::artistAlbum || layout == Layout::album) components.push_back(album);
    Location result;
    for (const std::string& component : components) {
        if (!result.folder.empty()) result.folder += "/";
        result.folder += component;
    }

    std::string prefix = trackPrefix(meta);
    if (layout == Layout::artist && albumNumber >= 1) {
        if (prefix.empty()) prefix = "00 ";
        prefix = padded(albumNumber, 2) + "-" + prefix;
    }

    std::string stem;
    if (layout == Layout::flat) {
        stem = name(artist + " - " + prefix + meta.title, "Track");
    } else {
        std::string shown = text::trim(prefix);
        if (shown.empty()) shown = "00";
        stem = name(prefix + meta.title, "Track " + shown);
    }
    result.fileName = stem + "." + profile.fileExtension();
    return result;
}

}  // namespace

std::string albumName(const TrackMeta& meta, const DeviceProfile& profile,
                      std::int64_t albumIndex) {
    return SafeName::make(meta.album, albumFallback(profile, albumIndex), profile.nameRules());
}

Location location(const TrackMeta& meta, const DeviceProfile& profile, std::int64_t albumIndex,
                  std::int64_t albumNumber) {
    const SafeName::Rules rules = profile.nameRules();
    const std::string extension = "." + profile.fileExtension();
    // The extension comes on top of the name limit, but the file system
    // counts it: the stem leaves room for it.
    const Namer name = [&](std::string_view value, std::string_view fallback) {
        return SafeName::make(value, fallback, rules);
    };
    Location result =
        locate(meta, profile, albumName(meta, profile, albumIndex), albumNumber, name);
    const std::string stem = result.fileName.substr(0, result.fileName.size() - extension.size());
    result.fileName = SafeName::withSuffix(stem, "", rules, extension) + extension;
    return result;
}

Location unlimitedLocation(const TrackMeta& meta, const DeviceProfile& profile) {
    return locate(meta, profile, unlimitedAlbumName(meta), 0, keyName);
}

std::string unlimitedAlbumName(const TrackMeta& meta) {
    return keyName(meta.album, "Unknown Album");
}

}  // namespace tarvik::Placement
