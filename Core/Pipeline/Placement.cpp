#include "Core/Pipeline/Placement.hpp"

#include <cstdio>
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

}  // namespace

std::string albumName(const TrackMeta& meta, const DeviceProfile& profile,
                      std::int64_t albumIndex) {
    return SafeName::make(meta.album, albumFallback(profile, albumIndex), profile.nameRules());
}

Location location(const TrackMeta& meta, const DeviceProfile& profile, std::int64_t albumIndex,
                  std::int64_t albumNumber) {
    const SafeName::Rules rules = profile.nameRules();
    const Layout layout = profile.files.layout;
    const std::string artist = SafeName::make(meta.albumArtist, "Unknown Artist", rules);

    std::vector<std::string> components;
    if (!profile.files.root.empty()) components.push_back(profile.files.root);
    if (layout == Layout::artistAlbum || layout == Layout::artist) components.push_back(artist);
    if (layout == Layout::artistAlbum || layout == Layout::album) {
        components.push_back(albumName(meta, profile, albumIndex));
    }
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
        stem = SafeName::make(artist + " - " + prefix + meta.title, "Track", rules);
    } else {
        std::string shown = text::trim(prefix);
        if (shown.empty()) shown = "00";
        stem = SafeName::make(prefix + meta.title, "Track " + shown, rules);
    }
    result.fileName = stem + "." + profile.fileExtension();
    return result;
}

}  // namespace tarvik::Placement
