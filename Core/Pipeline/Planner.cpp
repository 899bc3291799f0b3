#include "Core/Pipeline/Planner.hpp"

#include <algorithm>
#include <charconv>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "Core/Naming/SafeName.hpp"
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

// `folder` with " n" on its last component; `rules` limit that component.
std::string numbered(std::string_view folder, std::int64_t n, const SafeName::Rules& rules) {
    const std::size_t slash = folder.rfind('/');
    const std::string_view parent =
        slash == std::string_view::npos ? std::string_view() : folder.substr(0, slash + 1);
    const std::string_view last =
        slash == std::string_view::npos ? folder : folder.substr(slash + 1);
    return std::string(parent) + SafeName::withSuffix(last, " " + std::to_string(n), rules);
}

// Overflow folders keep the whole name (the unit's name limit is not theirs to
// apply) but must still fit the file system.
const SafeName::Rules overflowRules{.nameMax = std::numeric_limits<std::int64_t>::max()};

// Whether a folder may take the files of one album; claims it when it may.
using Claim = std::function<bool(const std::string& folder)>;

// The folder a file of `folder` goes to: an overflow folder when it is full.
std::string split(const Planner& planner, const std::string& folder, Planner::FolderCounts& counts,
                  Planner::FolderRedirects& redirects, const Claim& claim) {
    const std::int64_t max = planner.profile.files.maxPerFolder;
    if (max < 1 || folder.empty()) return folder;

    const auto redirect = redirects.find(folder);
    std::string current = redirect == redirects.end() ? folder : redirect->second;
    const auto count = counts.find(current);
    if (count != counts.end() && count->second >= max) {
        // Every overflow folder below the current redirect target was full or
        // taken when that target was chosen, and a count never drops, so the
        // search goes on from the target's number instead of from 2 each
        // time: a folder that keeps overflowing costs no more per track.
        // (A name cut to fit the file system starts from 2 again: rare and
        // still correct.)
        std::int64_t n = 2;
        const std::string_view target =
            redirect == redirects.end() ? std::string_view() : std::string_view(redirect->second);
        if (target.size() > folder.size() + 1 && target.starts_with(folder) &&
            target[folder.size()] == ' ') {
            const std::string_view suffix = target.substr(folder.size() + 1);
            std::int64_t last = 0;
            const auto [end, error] =
                std::from_chars(suffix.data(), suffix.data() + suffix.size(), last);
            if (error == std::errc{} && end == suffix.data() + suffix.size() && last >= 2) {
                n = last + 1;
            }
        }
        for (;; ++n) {
            std::string candidate = numbered(folder, n, overflowRules);
            const auto held = counts.find(candidate);
            if ((held == counts.end() || held->second < max) && claim(candidate)) {
                current = std::move(candidate);
                break;
            }
        }
        redirects[folder] = current;
    }
    ++counts[current];
    return current;
}

// The working state of one pass: which album took which folder on the card,
// and which card paths are taken.
struct Pass {
    explicit Pass(const Planner& owner)
        : planner(owner),
          rules(owner.profile.nameRules()),
          extension("." + owner.profile.fileExtension()) {}

    const Planner& planner;
    const SafeName::Rules rules;
    const std::string extension;
    std::unordered_set<std::string> keys;
    std::unordered_set<std::string> cardPaths;
    // Card folder (card key) -> the unlimited folder of the albums that may use it.
    std::unordered_map<std::string, std::string> folderOwners;
    // Unlimited folder + "\0" + card folder -> the folder its files go to.
    std::unordered_map<std::string, std::string> albumFolders;
    // Album artist + "\0" + album -> the unlimited folder, which depends on
    // nothing else: worked out once per album.
    std::unordered_map<std::string, std::string> unlimitedFolders;
    // Card path (card key) -> the next number to try for a file name taken
    // there, so that many alike names in one folder cost no more per file.
    std::unordered_map<std::string, std::int64_t> nextSuffix;
    Planner::FolderCounts counts;
    Planner::FolderRedirects redirects;

    const std::string& unlimitedFolder(const TrackMeta& meta) {
        const auto [known, fresh] =
            unlimitedFolders.try_emplace(meta.albumArtist + '\0' + meta.album);
        if (fresh) known->second = Placement::unlimitedLocation(meta, planner.profile).folder;
        return known->second;
    }

    // Claims, album by album in plan order, the folder each album has before
    // any number: a numbered name ("BEST 2", the overflow "Road 2") then
    // never takes the name of a real album of the plan ("Best 2", "Road 2").
    void claimRealFolder(const TrackMeta& meta, std::int64_t albumIndex, std::int64_t albumNumber) {
        const Placement::Location card =
            Placement::location(meta, planner.profile, albumIndex, albumNumber);
        if (!card.folder.empty()) claim(card.folder, unlimitedFolder(meta));
    }

    bool claim(const std::string& folder, const std::string& owner) {
        const auto [held, fresh] = folderOwners.try_emplace(cardPathKey(folder), owner);
        return fresh || held->second == owner;
    }

    // Two albums that the card's limits give one folder keep apart: the later
    // one takes the first free numbered form of it.
    std::string albumFolder(const std::string& folder, const std::string& owner) {
        const std::string slot = owner + '\0' + folder;
        if (const auto known = albumFolders.find(slot); known != albumFolders.end()) {
            return known->second;
        }
        std::string chosen = folder;
        for (std::int64_t n = 2; !folder.empty() && !claim(chosen, owner); ++n) {
            chosen = numbered(folder, n, rules);
        }
        albumFolders.emplace(slot, chosen);
        return chosen;
    }

    // The item's card path. Two different songs whose names the card's limits
    // make alike in one folder keep apart: the later file takes " 2", " 3", ...
    // before its extension.
    std::string place(const TrackMeta& meta, std::int64_t albumIndex, std::int64_t albumNumber) {
        const Placement::Location card =
            Placement::location(meta, planner.profile, albumIndex, albumNumber);
        const std::string& owner = unlimitedFolder(meta);
        const std::string base = albumFolder(card.folder, owner);
        const std::string folder = split(planner, base, counts, redirects,
                                         [&](const std::string& f) { return claim(f, owner); });
        const std::string inFolder = folder.empty() ? "" : folder + "/";
        std::string path = inFolder + card.fileName;
        std::string first = cardPathKey(path);
        if (cardPaths.insert(first).second) return path;

        const std::string stem = card.fileName.substr(0, card.fileName.size() - extension.size());
        std::int64_t& n = nextSuffix.try_emplace(std::move(first), 2).first->second;
        for (;; ++n) {
            path = inFolder +
                   SafeName::withSuffix(stem, " " + std::to_string(n), rules, extension) +
                   extension;
            if (cardPaths.insert(cardPathKey(path)).second) return path;
        }
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
        const auto winner =
            std::max_element(tally.begin(), tally.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        const std::string dominant = winner->first;

        // A track artist is taken for a variant of the album artist only when
        // the album artist is a real majority of one: in a compilation whose
        // tracks lack the album-artist tag every track took its own artist,
        // and each of them must keep it.
        std::unordered_set<std::string> others;
        for (const auto& entry : tally) {
            if (entry.first != dominant && winner->second >= 2) {
                others.insert(looseForm(entry.first));
            }
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
        std::string key = duplicateKey(meta);
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
    Pass pass(*this);
    for (std::size_t position = 0; position < groups.size(); ++position) {
        const auto albumIndex = static_cast<std::int64_t>(position);
        pass.claimRealFolder(tracks[groups[position].front().first].meta, albumIndex + 1,
                             numbers[position]);
    }
    for (std::size_t position = 0; position < groups.size(); ++position) {
        const auto albumIndex = static_cast<std::int64_t>(position);
        for (auto& [i, key] : groups[position]) {
            const Track& track = tracks[i];
            std::string path = pass.place(track.meta, albumIndex + 1, numbers[position]);
            result.items.push_back(
                {track.source, track.meta, std::move(key), std::move(path), albumIndex});
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
    Pass pass(*this);
    const auto numberOf = [&](std::int64_t albumIndex) {
        const bool known = albumIndex >= 0 && static_cast<std::size_t>(albumIndex) < numbers.size();
        return known ? numbers[static_cast<std::size_t>(albumIndex)] : 0;
    };
    std::unordered_set<std::int64_t> claimed;
    for (std::size_t i = 0; i < firstPass.items.size(); ++i) {
        const ConversionPlan::Item& item = firstPass.items[i];
        if (!claimed.insert(item.albumIndex).second) continue;
        const auto correction = corrections.find(i);
        pass.claimRealFolder(correction == corrections.end() ? item.meta : correction->second,
                             item.albumIndex + 1, numberOf(item.albumIndex));
    }

    for (std::size_t i = 0; i < firstPass.items.size(); ++i) {
        const ConversionPlan::Item& item = firstPass.items[i];
        const std::int64_t number = numberOf(item.albumIndex);

        // The corrected record first; when its place is taken, the record the
        // first pass had.
        std::vector<const TrackMeta*> candidates;
        if (const auto correction = corrections.find(i); correction != corrections.end()) {
            candidates.push_back(&correction->second);
        }
        candidates.push_back(&item.meta);

        bool placed = false;
        for (const TrackMeta* meta : candidates) {
            std::string key = duplicateKey(*meta);
            if (!pass.keys.insert(key).second) continue;
            std::string path = pass.place(*meta, item.albumIndex + 1, number);
            // What the library holds stays known where the lookup changed it.
            std::optional<TrackMeta> library;
            if (!(*meta == item.libraryMeta())) library = item.libraryMeta();
            result.items.push_back({item.source, *meta, std::move(key), std::move(path),
                                    item.albumIndex, std::move(library)});
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
    const Placement::Location location =
        Placement::location(meta, profile, albumIndex, albumNumber);
    const std::string folder =
        split(*this, location.folder, counts, redirects, [](const std::string&) { return true; });
    return folder.empty() ? location.fileName : folder + "/" + location.fileName;
}

std::string Planner::duplicateKey(const TrackMeta& meta) const {
    const Placement::Location location = Placement::unlimitedLocation(meta, profile);
    if (profile.files.layout == Layout::artist) {
        // All albums of an artist share its folder and the key's file name has
        // no album number, so the album's name keeps the albums apart.
        return location.folder + "/" + Placement::unlimitedAlbumName(meta) + "/" +
               location.fileName;
    }
    return location.path();
}

}  // namespace tarvik
