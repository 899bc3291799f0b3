#include "Core/Naming/ArtistAliases.hpp"

#include <algorithm>
#include <iterator>
#include <map>
#include <utility>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

ArtistAliases decode(const std::string& bytes) {
    const nlohmann::json document = json::parse(bytes);
    const json::ObjectReader top(document);
    ArtistAliases aliases;
    const nlohmann::json& entries = top.array("entries");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const json::ObjectReader entry(entries[i],
                                       top.pathOf("entries") + "[" + std::to_string(i) + "]");
        aliases.entries.emplace_back(entry.string("from"), entry.string("to"));
    }
    return aliases;
}

}  // namespace

ArtistAliases::Entry::Entry() : id(makeUuid()) {}

ArtistAliases::Entry::Entry(std::string from_, std::string to_)
    : id(makeUuid()), from(std::move(from_)), to(std::move(to_)) {}

bool ArtistAliases::Entry::operator==(const Entry& other) const {
    return id == other.id && text::equivalent(from, other.from) && text::equivalent(to, other.to);
}

std::string ArtistAliases::key(std::string_view text) {
    std::string spaced = text::nfc(text);
    std::string compact;
    compact.reserve(spaced.size());
    for (char32_t scalar : text::scalars(spaced)) {
        if (scalar != U' ' && scalar != U'\u3000') text::appendScalar(compact, scalar);
    }
    return text::lower(compact);
}

std::optional<std::string> ArtistAliases::resolve(std::string_view name) const {
    if (entries.empty()) return std::nullopt;
    const std::string wanted = key(name);
    if (wanted.empty()) return std::nullopt;
    for (const Entry& entry : entries) {
        if (entry.to.empty()) continue;
        if (key(entry.from) == wanted || key(entry.to) == wanted) return entry.to;
    }
    return std::nullopt;
}

TrackMeta ArtistAliases::apply(const TrackMeta& meta) const {
    TrackMeta result = meta;
    if (auto artist = resolve(meta.artist)) result.artist = std::move(*artist);
    if (auto albumArtist = resolve(meta.albumArtist)) result.albumArtist = std::move(*albumArtist);
    return result;
}

ArtistAliases ArtistAliases::load(const std::filesystem::path& url) {
    // The list is a convenience: a missing or damaged file must never stop an export.
    try {
        // Opened like the profiles: a regular file of at most 1 MiB, never waited on.
        return decode(readSmallFile(url, settingsFileLimit));
    } catch (const std::exception&) {
    }
    return {};
}

void ArtistAliases::save(const std::filesystem::path& url) const {
    nlohmann::json list = nlohmann::json::array();
    for (const Entry& entry : entries) list.push_back({{"from", entry.from}, {"to", entry.to}});
    writeFileAtomically(url, json::pretty({{"entries", list}}));
}

std::vector<std::vector<std::string>> ArtistAliases::findVariants(
    const std::vector<std::string>& names) {
    std::map<std::string, std::vector<std::string>> byKey;
    for (const std::string& name : names) byKey[key(name)].push_back(text::nfc(name));

    std::vector<std::vector<std::string>> groups;
    for (auto& [groupKey, forms] : byKey) {
        // Byte order of UTF-8 is code point order.
        std::sort(forms.begin(), forms.end());
        forms.erase(std::unique(forms.begin(), forms.end()), forms.end());
        if (forms.size() >= 2) groups.push_back(std::move(forms));
    }
    std::sort(groups.begin(), groups.end(),
              [](const auto& a, const auto& b) { return a.front() < b.front(); });
    return groups;
}

}  // namespace tarvik

std::size_t std::hash<tarvik::ArtistAliases::Entry>::operator()(
    const tarvik::ArtistAliases::Entry& entry) const {
    std::size_t seed = 0;
    for (const std::string& part :
         {entry.id, tarvik::text::nfc(entry.from), tarvik::text::nfc(entry.to)}) {
        seed ^= std::hash<std::string>()(part) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    }
    return seed;
}
