#include "Core/Pipeline/Planner.hpp"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "Core/Pipeline/Placement.hpp"
#include "Core/Platform/NameOrder.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

using Layout = DeviceProfile::Files::Layout;

// NFC without spaces and ideographic spaces, lower-cased: "The  Band" and
// "theband" are one album title or one artist here.
std::string looseForm(std::string_view text) {
    std::string compact = text::nfc(text);
    compact = text::replacing(compact, " ", "");
    compact = text::replacing(compact, "\u3000", "");
    return text::lower(compact);
}

// FAT and exFAT cards tell neither normalisation forms nor letter case apart,
// so two paths that differ only there would be one file on the card.
std::string cardPathKey(std::string_view relativePath) {
    return text::lower(text::nfc(relativePath));
}

struct Split {
    std::string path;
    std::string countedFolder;  // empty when nothing was counted
};

Split split(const Planner& planner, const TrackMeta& meta, std::int64_t albumIndex,
            std::int64_t albumNumber, Planner::FolderCounts& counts,
            Planner::FolderRedirects& redirects) {
    const Placement::Location location =
        Placement::location(meta, planner.profile, albumIndex, albumNumber);
    const std::int64_t max = planner.profile.files.maxPerFolder;
    if (max < 1 || location.folder.empty()) return {location.path(), {}};

    const auto redirect = redirects.find(location.folder);
    std::string current = redirect == redirects.end() ? location.folder : redirect->second;
    const auto count = counts.find(current);
    if (count != counts.end() && count->second >= max) {
        // Every overflow folder below the current redirect target was full when
        // that target was chosen, and a count never drops below an earlier
        // value (a left-out item only takes back its own step), so the search
        // goes on from the target's number instead of from 2 each time: a
        // folder that keeps overflowing costs no more per track.
        std::int64_t n = 2;
        const std::string_view target =
            redirect == redirects.end() ? std::string_view() : std::string_view(redirect->second);
        if (target.size() > location.folder.size() + 1 && target.starts_with(location.folder) &&
            target[location.folder.size()] == ' ') {
            const std::string_view suffix = target.substr(location.folder.size() + 1);
            std::int64_t last = 0;
            const auto [end, error] =
                std::from_chars(suffix.data(), suffix.data() + suffix.size(), last);
            if (error == std::errc{} && end == suffix.data() + suffix.size() && last >= 2) {
                n = last + 1;
            }
        }
        for (;; ++n) {
            std::string candidate = location.folder + " " + std::to_string(n);
            const auto held = counts.find(candidate);
            if (held == counts.end() || held->second < max) {
                current = std::move(candidate);
                break;
            }
        }
        redirects[location.folder] = current;
    }
    ++counts[current];
    return {current + "/" + location.fileName, current};
}

// The working state of one pass.
struct Pass {
    const Planner& planner;
    std::unordered_set<std::string> keys;
    std::unordered_set<std::string> cardPaths;
    Planner::FolderCounts counts;
    Planner::FolderRedirects redirects;

    // The item's path, or nothing when another item of the pass already holds
    // that place on the card; then the item leaves no count behind.
    std::optional<std::string> place(const TrackMeta& meta, std::int64_t albumIndex,
                                     std::int64_t albumNumber) {
        Split placed = split(planner, meta, albumIndex, albumNumber, counts, redirects);
        if (cardPaths.insert(cardPathKey(placed.path)).second) return std::move(placed.path);
        if (!placed.countedFolder.empty()) --counts[placed.countedFolder];
        return std::nullopt;
    }
};

}  // namespace

Planner::Corrections Planner::unifyAlbumArtists(const std::vector<std::filesystem::path>& sources,
                                                const std::vector<TrackMeta>& metas) {
    const std::size_t count = std::min(sources.size(), metas.size());
    std::unordered_map<std::string, std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < count; ++i) {
        std::string key = text::nfc(sources[i].parent_path().string());
        key += '\0';
        key += looseForm(metas[i].album);
        groups[key].push_back(i);
    }

    Corrections corrections;
    for (const auto& [key, positions] : groups) {
        if (positions.size() < 2) continue;
        // Album-artist texts in the order of their first track, with counts;
        // the first text with the highest count wins ties.
        std::vector<std::pair<std::string, std::size_t>> tally;
        for (std::size_t p : positions) {
            const std::string& albumArtist = metas[p].albumArtist;
            auto it = std::find_if(tally.begin(), tally.end(),
                                   [&](const auto& entry) { return entry.first == albumArtist; });
            if (it == tally.end())
                tally.emplace_back(albumArtist, 1);
            else
                ++it->second;
        }
        if (tally.size() < 2) continue;
        const std::string dominant =
            std::max_element(tally.begin(), tally.end(), [](const auto& a, const auto& b) {
                return a.second < b.second;
            })->first;

        std::unordered_set<std::string> others;
        for (const auto& entry : tally) {
            if (entry.first != dominant) others.insert(looseForm(entry.first));
        }
        for (std::size_t p : positions) {
            TrackMeta changed = metas[p];
            changed.albumArtist = dominant;
            if (others.contains(looseForm(changed.artist))) changed.artist = dominant;
            if (changed.artist != metas[p].artist || changed.albumArtist != metas[p].albumArtist) {
                corrections.emplace(p, std::move(changed));
            }
        }
    }
    return corrections;
}

ConversionPlan Planner::plan(const std::vector<Track>& tracks) const {
    ConversionPlan result;
    std::unordered_map<AlbumKey, std::size_t> albumPositions;
    std::vector<std::vector<std::pair<std::size_t, std::string>>> groups;  // track, key
    std::unordered_set<std::string> keys;

    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const TrackMeta& meta = tracks[i].meta;
        AlbumKey album{meta.albumArtist, meta.album};
        const auto known = albumPositions.find(album);
        const std::size_t position =
            known == albumPositions.end() ? result.albums.size() : known->second;
        std::string key = duplicateKey(meta, static_cast<std::int64_t>(position) + 1);
        if (!keys.insert(key).second) {
            ++result.duplicates;
            continue;
        }
        if (known == albumPositions.end()) {
            albumPositions.emplace(album, position);
            result.albums.push_back(std::move(album));
            groups.emplace_back();
        }
        groups[position].emplace_back(i, std::move(key));
    }

    const std::vector<std::int64_t> numbers = albumNumbers(result.albums);
    Pass pass{*this, {}, {}, {}, {}};
    for (std::size_t position = 0; position < groups.size(); ++position) {
        const auto albumIndex = static_cast<std::int64_t>(position);
        for (auto& [i, key] : groups[position]) {
            const Track& track = tracks[i];
            std::optional<std::string> path =
                pass.place(track.meta, albumIndex + 1, numbers[position]);
            if (!path) {
                ++result.duplicates;
                continue;
            }
            result.items.push_back(
                {track.source, track.meta, std::move(key), std::move(*path), albumIndex});
        }
    }
    return result;
}

ConversionPlan Planner::planFinal(const ConversionPlan& firstPass,
                                  const Corrections& corrections) const {
    ConversionPlan result;
    result.duplicates = firstPass.duplicates;
    result.albums = firstPass.albums;
    const std::vector<std::int64_t> numbers = albumNumbers(firstPass.albums);
    Pass pass{*this, {}, {}, {}, {}};

    for (std::size_t i = 0; i < firstPass.items.size(); ++i) {
        const ConversionPlan::Item& item = firstPass.items[i];
        const bool known =
            item.albumIndex >= 0 && static_cast<std::size_t>(item.albumIndex) < numbers.size();
        const std::int64_t number = known ? numbers[static_cast<std::size_t>(item.albumIndex)] : 0;

        // The corrected record first; when its place is taken, the record the
        // first pass had.
        std::vector<const TrackMeta*> candidates;
        if (const auto correction = corrections.find(i); correction != corrections.end()) {
            candidates.push_back(&correction->second);
        }
        candidates.push_back(&item.meta);

        bool placed = false;
        for (const TrackMeta* meta : candidates) {
            std::string key = duplicateKey(*meta, item.albumIndex + 1);
            if (pass.keys.contains(key)) continue;
            std::optional<std::string> path = pass.place(*meta, item.albumIndex + 1, number);
            if (!path) continue;
            pass.keys.insert(key);
            result.items.push_back(
                {item.source, *meta, std::move(key), std::move(*path), item.albumIndex});
            placed = true;
            break;
        }
        if (!placed) ++result.duplicates;
    }
    return result;
}

std::vector<std::int64_t> Planner::albumNumbers(const std::vector<AlbumKey>& albums) const {
    std::vector<std::int64_t> numbers(albums.size(), 0);
    if (profile.files.layout != Layout::artist) return numbers;

    std::unordered_map<std::string, std::vector<std::size_t>> byArtist;
    for (std::size_t i = 0; i < albums.size(); ++i) byArtist[albums[i].albumArtist].push_back(i);
    for (auto& [artist, positions] : byArtist) {
        std::stable_sort(positions.begin(), positions.end(), [&](std::size_t a, std::size_t b) {
            return text::compareNames(albums[a].album, albums[b].album) < 0;
        });
        for (std::size_t rank = 0; rank < positions.size(); ++rank) {
            numbers[positions[rank]] = static_cast<std::int64_t>(rank) + 1;
        }
    }
    return numbers;
}

std::string Planner::splitFolder(const TrackMeta& meta, std::int64_t albumIndex,
                                 std::int64_t albumNumber, FolderCounts& counts,
                                 FolderRedirects& redirects) const {
    return split(*this, meta, albumIndex, albumNumber, counts, redirects).path;
}

std::string Planner::duplicateKey(const TrackMeta& meta, std::int64_t albumIndex) const {
    const Placement::Location location = Placement::location(meta, profile, albumIndex, 0);
    if (profile.files.layout == Layout::artist) {
        // All albums of an artist share its folder and the key's file name has
        // no album number, so the album's name keeps the albums apart.
        return location.folder + "/" + Placement::albumName(meta, profile, albumIndex) + "/" +
               location.fileName;
    }
    return location.path();
}

}  // namespace tarvik
