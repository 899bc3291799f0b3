#include "Core/SDCard/CardTree.hpp"

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {
namespace {

// Identity reads at once: beyond four a card's FUSE daemon answers no faster.
constexpr std::size_t identityReaders = 4;

// The levels of a relative path; nothing for an absolute one or a "." or
// ".." level, which would leave the card.
std::optional<std::vector<std::string_view>> levelsOf(std::string_view relative) {
    if (relative.starts_with('/')) return std::nullopt;
    std::vector<std::string_view> levels = components(relative);
    for (std::string_view level : levels) {
        if (level == "." || level == "..") return std::nullopt;
    }
    return levels;
}

// The entry a level names: its own name first, then its NFC form, then the
// card's key, so that of two names only a case-blind card takes for one the
// exact one wins.
const CardTree::Entry* find(const std::vector<CardTree::Entry>& entries, std::string_view level,
                            bool isFolder) {
    for (const CardTree::Entry& entry : entries) {
        if (entry.name == level) return &entry;
    }
    const std::string nfc = text::nfcName(level);
    for (const CardTree::Entry& entry : entries) {
        if (entry.nfc == nfc) return &entry;
    }
    const std::string key = isFolder ? CardTree::folderKey(level) : CardTree::fileKey(level);
    for (const CardTree::Entry& entry : entries) {
        if ((isFolder ? entry.folderKey : entry.fileKey) == key) return &entry;
    }
    return nullptr;
}

// The entries of a folder as the system lists them; none when it can't be read.
std::vector<CardTree::Entry> readListing(const std::filesystem::path& path) {
    std::vector<CardTree::Entry> entries;
    for (auto& [name, kind] : listKinds(path)) {
        std::string nfc = text::nfcName(name);
        std::string fileKey = CardTree::fileKey(name);
        std::string folderKey = CardTree::folderKey(name);
        entries.push_back(
            {std::move(name), kind, std::move(nfc), std::move(fileKey), std::move(folderKey)});
    }
    return entries;
}

// The identities a file carries; nothing at all where the stop ended its read.
using IdentityRead = std::optional<AlbumIdentity::Carried>;
IdentityRead readUnlessStopped(const std::filesystem::path& file, std::stop_token stop) {
    try {
        return AlbumIdentity::carried(file, std::move(stop));
    } catch (const Cancelled&) {
        return std::nullopt;
    }
}

// A file's identity and what else it says of itself, through one opening
// (a card through FUSE answers every open with a round trip); nothing at
// all where the stop ended the read.
struct FileRead {
    AlbumIdentity::Carried identity;
    std::optional<AudioFacts::Facts> facts;
};
std::optional<FileRead> readFileUnlessStopped(const std::filesystem::path& path,
                                              std::stop_token stop) {
    try {
        if (stop.stop_requested()) return std::nullopt;
        std::optional<FileSource> source;
        try {
            source.emplace(path);
        } catch (const ConversionError&) {
            return FileRead{};  // not there, no regular file, or not readable
        }
        FileRead read;
        read.identity = AlbumIdentity::carried(*source, stop);
        read.facts = AudioFacts::read(*source, stop);
        return read;
    } catch (const Cancelled&) {
        return std::nullopt;
    }
}

// Calls `work` once for each index below `count`, each index on one thread:
// the calling one and helpers, `identityReaders` at most in all, which have
// ended when it returns; without a thread for a helper it runs on fewer. A
// stop leaves the indices not yet taken.
void eachAtOnce(std::size_t count, const std::function<void(std::size_t)>& work,
                std::stop_token stop) {
    std::atomic<std::size_t> next = 0;
    const auto take = [&] {
        for (std::size_t at; !stop.stop_requested() && (at = next++) < count;) work(at);
    };
    std::vector<std::jthread> helpers;
    try {
        while (helpers.size() + 1 < std::min(identityReaders, count)) helpers.emplace_back(take);
    } catch (const std::system_error&) {
    }
    take();
}

}  // namespace

CardTree::CardTree(PosixFS::Root root, std::stop_token stop)
    : root_(std::move(root)), stop_(std::move(stop)) {}

std::filesystem::path CardTree::fullPath(std::string_view relative) const {
    return relative.empty() ? root_.folder : root_.folder / relative;
}

std::string CardTree::fileKey(std::string_view name) {
    if (!text::isValidUTF8(name)) return std::string(name);
    return text::nfc(text::lower(text::nfc(name)));
}

std::string CardTree::folderKey(std::string_view name) {
    std::string key = fileKey(name);
    key.resize(withoutPadding(key).size());
    return key;
}

std::string CardTree::pathKey(std::string_view relative, bool lastIsFolder) {
    const std::vector<std::string_view> levels = components(relative);
    std::string key;
    for (std::size_t index = 0; index < levels.size(); ++index) {
        const bool folder = lastIsFolder || index + 1 < levels.size();
        key = joined(key, folder ? folderKey(levels[index]) : fileKey(levels[index]));
    }
    return key;
}

std::vector<CardTree::Entry>& CardTree::listing(const std::string& folder) {
    const auto [known, fresh] = listings_.try_emplace(folder);
    if (fresh) known->second = readListing(fullPath(folder));
    return known->second;
}

bool CardTree::isAudioFile(const Entry& entry) {
    if (entry.kind != Kind::file || entry.name.starts_with('.')) return false;
    if (isCardAudioFile(entry.name)) return true;
    // The kinds a library holds besides: a stranger's album of them names its
    // folder as much as one the unit plays.
    static const std::set<std::string> libraryKinds{"flac", "ogg",  "oga", "opus",
                                                    "m4b",  "wav",  "aif", "aiff"};
    std::string extension = pathExtension(entry.name);
    std::ranges::transform(extension, extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return libraryKinds.contains(extension);
}

const std::vector<CardTree::Entry>& CardTree::entries(const std::string& folder) {
    return listing(folder);
}

std::optional<CardTree::Located> CardTree::locate(std::string_view relative, bool lastIsFolder) {
    const std::optional<std::vector<std::string_view>> levels = levelsOf(relative);
    if (!levels) return std::nullopt;
    Located located;
    located.levels = levels->size();
    for (std::size_t index = 0; index < levels->size(); ++index) {
        const std::string_view level = (*levels)[index];
        const bool last = index + 1 == levels->size();
        const Entry* entry = located.found == index && !located.blockedAt
                                 ? find(listing(located.relative), level, !last || lastIsFolder)
                                 : nullptr;
        const bool folderLevel = !last || lastIsFolder;
        if (entry == nullptr) {
            located.relative = joined(located.relative, text::nfcName(level));
            located.key = joined(located.key, folderLevel ? folderKey(level) : fileKey(level));
            continue;
        }
        located.relative = joined(located.relative, entry->name);
        // The keys the listing holds already: a path found costs no conversion.
        located.key = joined(located.key, folderLevel ? entry->folderKey : entry->fileKey);
        ++located.found;
        if (last) {
            located.kind = entry->kind;
        } else if (entry->kind != Kind::folder) {
            located.blockedAt = located.relative;
            located.blockedByLink = entry->kind == Kind::link;
        }
    }
    return located;
}

const AlbumIdentity::Carried& CardTree::carried(const std::string& file) {
    if (const auto known = identities_.find(file); known != identities_.end()) return known->second;
    // Kept only once read: a stop in the middle of the file decides nothing.
    AlbumIdentity::Carried read = AlbumIdentity::carried(fullPath(file), stop_);
    return identities_.emplace(file, std::move(read)).first->second;
}

const std::optional<AudioFacts::Facts>& CardTree::facts(const std::string& file) {
    if (const auto known = facts_.find(file); known != facts_.end()) return known->second;
    std::optional<AudioFacts::Facts> read = AudioFacts::read(fullPath(file), stop_);
    return facts_.emplace(file, std::move(read)).first->second;
}

void CardTree::readIdentities(const std::vector<std::string>& files) {
    std::vector<std::string> wanted;
    for (const std::string& file : files) {
        if (!identities_.contains(file)) wanted.push_back(file);
    }
    std::vector<IdentityRead> read(wanted.size());
    // Each thread writes only the slots it takes; the map is filled here.
    eachAtOnce(
        wanted.size(),
        [&](std::size_t at) { read[at] = readUnlessStopped(fullPath(wanted[at]), stop_); }, stop_);
    bool unread = false;
    for (std::size_t at = 0; at < wanted.size(); ++at) {
        if (read[at]) {
            identities_.emplace(std::move(wanted[at]), std::move(*read[at]));
        } else {
            unread = true;
        }
    }
    if (unread) throw Cancelled();
}

void CardTree::prefetch(const std::vector<std::string>& folders) {
    std::vector<std::string> wanted;
    for (const std::string& folder : folders) {
        if (!listings_.contains(folder) && std::ranges::find(wanted, folder) == wanted.end()) {
            wanted.push_back(folder);
        }
    }
    struct Found {
        bool done = false;
        std::vector<Entry> entries;
        std::vector<std::pair<std::string, AlbumIdentity::Carried>> identities;
        std::vector<std::pair<std::string, std::optional<AudioFacts::Facts>>> facts;
    };
    std::vector<Found> found(wanted.size());
    // Each thread fills only the slots it takes; the maps are filled here.
    eachAtOnce(
        wanted.size(),
        [&](std::size_t at) {
            Found& folder = found[at];
            folder.entries = readListing(fullPath(wanted[at]));
            for (const Entry& entry : folder.entries) {
                if (!isAudioFile(entry)) continue;
                std::string file = joined(wanted[at], entry.name);
                std::optional<FileRead> read = readFileUnlessStopped(fullPath(file), stop_);
                if (!read) return;  // stopped: the folder is read when asked
                folder.identities.emplace_back(file, std::move(read->identity));
                folder.facts.emplace_back(std::move(file), std::move(read->facts));
            }
            folder.done = true;
        },
        stop_);
    for (std::size_t at = 0; at < wanted.size(); ++at) {
        if (!found[at].done) continue;
        listings_.emplace(wanted[at], std::move(found[at].entries));
        for (auto& [file, identity] : found[at].identities) {
            identities_.emplace(std::move(file), std::move(identity));
        }
        for (auto& [file, facts] : found[at].facts)
            facts_.emplace(std::move(file), std::move(facts));
    }
}

void CardTree::note(const std::string& relative, bool lastIsFolder) {
    const std::optional<std::vector<std::string_view>> levels = levelsOf(relative);
    if (!levels) return;
    std::string folder;
    for (std::size_t index = 0; index < levels->size(); ++index) {
        const bool isFolder = lastIsFolder || index + 1 < levels->size();
        std::vector<Entry>& here = listing(folder);
        const Entry* entry = find(here, (*levels)[index], isFolder);
        if (entry == nullptr) {
            const std::string name = text::nfcName((*levels)[index]);
            here.push_back(
                {name, isFolder ? Kind::folder : Kind::file, name, fileKey(name), folderKey(name)});
            entry = &here.back();
        }
        folder = joined(folder, entry->name);
    }
}

void CardTree::moved(const std::string& from, const std::string& to) {
    if (from == to || to.starts_with(from + "/") || !levelsOf(from) || !levelsOf(to)) return;
    listing(from);  // what it holds goes along, read or not
    std::vector<Entry>& parent = listing(parentPath(from));
    const std::string name = lastComponent(from);
    std::erase_if(parent, [&](const Entry& entry) { return entry.name == name; });
    // Everything known below `from` is known below `to` now.
    const auto rekey = [&](auto& map) {
        std::vector<std::string> keys;
        for (const auto& [key, value] : map) {
            if (key == from || key.starts_with(from + "/")) keys.push_back(key);
        }
        for (const std::string& key : keys) {
            auto node = map.extract(key);
            node.key() = to + key.substr(from.size());
            map.erase(node.key());  // what was read there before it came
            map.insert(std::move(node));
        }
    };
    rekey(listings_);
    rekey(identities_);
    rekey(facts_);
    note(to, true);
}

}  // namespace tarvik::SDCardTools
