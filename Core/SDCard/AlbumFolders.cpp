#include "Core/SDCard/AlbumFolders.hpp"

#include <algorithm>
#include <charconv>
#include <utility>
#include <vector>

#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {
namespace {

// Numbers tried before an album gives up: far beyond real cards, and a
// bound where a name cut to its limit comes back the same.
constexpr std::int64_t numberLimit = 9999;

std::string joined(const std::string& folder, std::string_view name) {
    return folder.empty() ? std::string(name) : folder + "/" + std::string(name);
}

// A folder path as a card tells folders apart, level by level.
std::string pathKey(std::string_view path) {
    std::string key;
    for (std::string_view level : components(path)) {
        if (!key.empty()) key += '/';
        key += CardTree::folderKey(level);
    }
    return key;
}

// The number at the end of a folder key (" 2" and up), if any.
std::optional<std::int64_t> trailingNumber(std::string_view key) {
    const std::size_t space = key.rfind(' ');
    if (space == std::string_view::npos || space + 1 == key.size()) return std::nullopt;
    std::int64_t number = 0;
    const char* first = key.data() + space + 1;
    const char* last = key.data() + key.size();
    const auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc{} || end != last || *first == '0' || number < 2 ||
        number > numberLimit) {
        return std::nullopt;
    }
    return number;
}

bool isAudio(const CardTree::Entry& entry) {
    return entry.kind == CardTree::Kind::file && !entry.name.starts_with('.') &&
           isCardAudioFile(entry.name);
}

}  // namespace

std::string numberedFolder(std::string_view name, std::int64_t n, const SafeName::Rules& rules) {
    return SafeName::withSuffix(name, " " + std::to_string(n), rules);
}

AlbumFolders::AlbumFolders(CardTree& tree) : tree_(tree) {}

void AlbumFolders::hold(const std::string& folder, const std::string& owner) {
    held_[pathKey(folder)].insert(owner);
}

bool AlbumFolders::heldByAnother(const std::string& key, const std::string& owner) const {
    const auto found = held_.find(key);
    return found != held_.end() && (found->second.size() > 1 || !found->second.contains(owner));
}

bool AlbumFolders::claimedByAnother(const std::string& key, const std::string& owner) const {
    const auto found = claimed_.find(key);
    return found != claimed_.end() && found->second != owner;
}

std::string AlbumFolders::nameFor(const Album& album, std::int64_t n) {
    const std::string name = lastComponent(album.base);
    const std::string numbered = n == 1 ? name : numberedFolder(name, n, album.rules);
    return album.cardNames ? safeName(numbered, true) : numbered;
}

AlbumFolders::Holder AlbumFolders::holder(const std::string& folder, const Album& album) {
    const std::string cacheKey = folder + '\0' + album.owner;
    if (const auto known = holders_.find(cacheKey); known != holders_.end()) return known->second;
    // Files that carry an identity first: they are read cheaply, and one of
    // another album's spares the checks of the files that carry none.
    std::vector<std::string> unmarked;
    Holder verdict = Holder::nobody;
    for (const CardTree::Entry& entry : tree_.entries(folder)) {
        if (!isAudio(entry)) continue;
        const std::string file = joined(folder, entry.name);
        const std::optional<std::string>& carried = tree_.identity(file);
        if (!carried) {
            unmarked.push_back(file);
        } else if (carried != album.identity) {
            verdict = Holder::another;
            break;
        }
        verdict = Holder::album;
    }
    if (verdict == Holder::album) {
        for (const std::string& file : unmarked) {
            if (!album.ownFile || !album.ownFile(file)) {
                verdict = Holder::another;
                break;
            }
        }
    }
    holders_.emplace(cacheKey, verdict);
    return verdict;
}

AlbumFolders::Result AlbumFolders::find(const Album& album) {
    const std::string cacheKey = album.owner + '\0' + album.base;
    if (const auto known = results_.find(cacheKey); known != results_.end()) return known->second;
    // Kept only once decided: a stop while a file was checked decides nothing.
    Result result = search(album);
    results_.emplace(cacheKey, result);
    return result;
}

AlbumFolders::Result AlbumFolders::search(const Album& album) {
    Result result;
    const std::string plannedParent = parentPath(album.base);
    const std::string parent =
        album.cardNames ? cardRelativePath(plannedParent) : std::string(plannedParent);
    std::string realParent = parent;
    bool parentThere = parent.empty();
    if (!parent.empty()) {
        const std::optional<CardTree::Located> located = tree_.locate(parent, true);
        if (!located) return result;
        if (located->blockedByLink) {
            result.link = located->blockedAt;
            return result;
        }
        if (located->exists() && located->kind == CardTree::Kind::link) {
            result.link = located->relative;
            return result;
        }
        realParent = located->relative;
        // Anything else in the way is no folder: the copy will say so.
        parentThere = located->exists() && located->kind == CardTree::Kind::folder;
    }

    // The card's folders that are the album's name or a numbered form of it,
    // lowest number first, and the name itself before a case-blind twin.
    std::vector<std::tuple<std::int64_t, bool, const CardTree::Entry*>> forms;
    if (parentThere) {
        const std::string unnumbered = CardTree::folderKey(nameFor(album, 1));
        for (const CardTree::Entry& entry : tree_.entries(realParent)) {
            std::int64_t n = 0;
            if (entry.folderKey == unnumbered) {
                n = 1;
            } else if (const std::optional<std::int64_t> number =
                           trailingNumber(entry.folderKey);
                       number && CardTree::folderKey(nameFor(album, *number)) == entry.folderKey) {
                n = *number;
            } else {
                continue;
            }
            forms.emplace_back(n, entry.name != nameFor(album, n), &entry);
        }
        std::ranges::sort(forms, [](const auto& a, const auto& b) {
            return std::get<0>(a) != std::get<0>(b) ? std::get<0>(a) < std::get<0>(b)
                                                    : std::get<1>(a) < std::get<1>(b);
        });
    }

    const auto take = [&](const std::string& folder, std::int64_t n, bool own) {
        claimed_.emplace(pathKey(folder), album.owner);
        result.found = Found{folder, n, own};
        return result;
    };
    // Where the album's files already are, that is its folder.
    for (const auto& [n, twin, entry] : forms) {
        const std::string folder = joined(realParent, entry->name);
        if (entry->kind != CardTree::Kind::folder ||
            claimedByAnother(pathKey(folder), album.owner)) {
            continue;
        }
        if (holder(folder, album) == Holder::album) return take(folder, n, true);
    }
    // Else the first name that nobody holds: on the card, in the plan or send,
    // or by an earlier decision of this run.
    for (std::int64_t n = 1; n <= numberLimit; ++n) {
        const std::string wanted = nameFor(album, n);
        const std::string key = pathKey(joined(parent, wanted));
        if (claimedByAnother(key, album.owner) || (n > 1 && heldByAnother(key, album.owner))) {
            continue;
        }
        const auto there = std::ranges::find_if(
            forms, [&](const auto& form) { return std::get<0>(form) == n; });
        if (there == forms.end()) return take(joined(realParent, wanted), n, false);
        const CardTree::Entry& entry = *std::get<2>(*there);
        const std::string folder = joined(realParent, entry.name);
        if (entry.kind == CardTree::Kind::folder && holder(folder, album) == Holder::nobody) {
            return take(folder, n, false);
        }
    }
    return result;
}

}  // namespace tarvik::SDCardTools
