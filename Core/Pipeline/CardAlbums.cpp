#include "Core/Pipeline/CardAlbums.hpp"

#include <sys/stat.h>

#include <utility>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Naming/SafeName.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik {
namespace {

using Item = ConversionPlan::Item;

// Numbers tried before a track or an album gives up: far beyond real cards,
// and a bound where a name cut to its limit comes back the same.
constexpr std::int64_t numberLimit = 9999;

// FAT and exFAT cards tell neither normal forms nor letter case apart.
std::string cardKey(std::string_view path) {
    return text::lower(text::isValidUTF8(path) ? text::nfc(path) : std::string(path));
}

std::string folderOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? std::string_view() : path.substr(0, slash));
}

std::string_view nameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string joined(const std::string& folder, std::string_view name) {
    return folder.empty() ? std::string(name) : folder + "/" + std::string(name);
}

std::optional<mode_t> modeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return info.st_mode;
}

bool uses(const std::map<std::string, std::set<std::string>>& plan, const std::string& key,
          const std::string& identity) {
    const auto found = plan.find(key);
    if (found == plan.end()) return false;
    return found->second.size() > 1 || !found->second.contains(identity);
}

}  // namespace

CardAlbums::CardAlbums(PosixFS::Root root, const DeviceProfile& profile, std::vector<Item>& items,
                       bool cardNames, SameTrack sameTrack)
    : root_(std::move(root)),
      profile_(profile),
      items_(items),
      cardNames_(cardNames),
      sameTrack_(std::move(sameTrack)),
      // Only this layout gives each album a folder of its own; under the
      // others albums share folders, and only single files keep apart.
      albumFolders_(profile.files.layout == DeviceProfile::Files::Layout::artistAlbum),
      rules_(profile.nameRules()),
      settled_(items.size(), false) {
    identities_.reserve(items.size());
    for (const Item& item : items_) {
        identities_.push_back(AlbumIdentity::of(item.meta));
        planFolders_[cardKey(folderOf(item.relativePath))].insert(identities_.back());
        planPaths_[cardKey(item.relativePath)].insert(identities_.back());
    }
}

std::string CardAlbums::onCard(const std::string& relative, bool isFile) const {
    if (!cardNames_) return relative;
    return isFile ? SDCardTools::cardFilePath(relative) : SDCardTools::cardRelativePath(relative);
}

const std::optional<std::string>& CardAlbums::identityAt(const std::filesystem::path& file) {
    const auto [known, fresh] = readIdentities_.try_emplace(file.native());
    if (fresh) known->second = AlbumIdentity::read(file);
    return known->second;
}

std::optional<bool> CardAlbums::holds(const PosixFS::Location& at, const Item& item,
                                      const std::string& identity) {
    const std::optional<mode_t> mode = modeOf(at.path);
    if (!mode) return std::nullopt;
    // A link, even to the right file, or anything but a regular file is
    // never the track: it stays as it is.
    if (!S_ISREG(*mode)) return false;
    if (const std::optional<std::string>& carried = identityAt(at.path)) {
        return *carried == identity;
    }
    return sameTrack_ && sameTrack_(item, at.path);
}

bool CardAlbums::folderIsFree(const std::string& folder, const std::string& identity,
                              const Item& item) {
    const std::optional<PosixFS::Location> location =
        PosixFS::locate(root_, onCard(folder, false));
    if (!location || !location->exists()) return true;  // above: the copy will say so
    const std::optional<mode_t> mode = modeOf(location->path);
    if (!mode || !S_ISDIR(*mode)) return false;
    bool foreign = false;
    for (const std::string& name : SDCardTools::listNames(location->path)) {
        if (name.starts_with('.') || !SDCardTools::isCardAudioFile(name)) continue;
        const std::filesystem::path file = location->path / name;
        const std::optional<mode_t> fileMode = modeOf(file);
        if (!fileMode || !S_ISREG(*fileMode)) continue;
        if (const std::optional<std::string>& carried = identityAt(file)) {
            if (*carried == identity) return true;  // the album's own folder
            foreign = true;
        }
    }
    if (foreign) return false;
    // Files without identity (an earlier version's): the album's own when the
    // first of its tracks found there is that track.
    for (std::size_t index = 0; index < items_.size(); ++index) {
        const Item& other = items_[index];
        if (identities_[index] != identity ||
            folderOf(other.relativePath) != folderOf(item.relativePath)) {
            continue;
        }
        const std::optional<PosixFS::Location> file =
            PosixFS::locate(root_, onCard(joined(folder, nameOf(other.relativePath)), true));
        if (file && file->exists()) return holds(*file, other, identity).value_or(true);
    }
    return true;
}

std::string CardAlbums::folderFor(const Item& item, const std::string& identity) {
    const std::string folder = folderOf(item.relativePath);
    const auto [chosen, fresh] = chosenFolders_.try_emplace(folder + '\0' + identity);
    if (!fresh) return chosen->second;
    const std::string parent = folderOf(folder);
    for (std::int64_t n = 1; n <= numberLimit; ++n) {
        const std::string candidate =
            n == 1 ? folder
                   : joined(parent, SafeName::withSuffix(nameOf(folder), " " + std::to_string(n),
                                                         rules_));
        const std::string key = cardKey(candidate);
        // A numbered name never takes the folder of another album of the plan.
        if (n > 1 && uses(planFolders_, key, identity)) continue;
        if (const auto claimed = claimedFolders_.find(key);
            claimed != claimedFolders_.end() && claimed->second != identity) {
            continue;
        }
        if (folderIsFree(candidate, identity, item)) {
            claimedFolders_.emplace(key, identity);
            chosen->second = candidate;
            return candidate;
        }
    }
    chosen->second = folder;
    return folder;
}

void CardAlbums::moveAlbum(std::size_t index, const std::string& from, const std::string& to) {
    for (std::size_t other = index; other < items_.size(); ++other) {
        if (settled_[other] || identities_[other] != identities_[index] ||
            folderOf(items_[other].relativePath) != from) {
            continue;
        }
        settled_[other] = true;
        if (from != to) {
            items_[other].relativePath = joined(to, nameOf(items_[other].relativePath));
        }
    }
}

CardAlbums::Place CardAlbums::place(std::size_t index) {
    Item& item = items_[index];
    const std::string& identity = identities_[index];
    const std::string folder = folderOf(item.relativePath);
    if (albumFolders_ && !folder.empty() && !settled_[index]) {
        moveAlbum(index, folder, folderFor(item, identity));
    }

    const std::string original = item.relativePath;
    const std::string stem = std::string(nameOf(original));
    const std::size_t dot = stem.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : stem.substr(dot);
    for (std::int64_t n = 1; n <= numberLimit; ++n) {
        const std::string candidate =
            n == 1 ? original
                   : joined(folderOf(original),
                            SafeName::withSuffix(stem.substr(0, stem.size() - extension.size()),
                                                 " " + std::to_string(n), rules_, extension) +
                                extension);
        const std::string key = cardKey(candidate);
        if (n > 1 && planPaths_.contains(key)) continue;  // another track's place
        if (const auto claimed = claimedPaths_.find(key);
            claimed != claimedPaths_.end() && claimed->second != index) {
            continue;
        }
        const std::optional<PosixFS::Location> location =
            PosixFS::locate(root_, onCard(candidate, true));
        // A folder on the way is a link or a file: the copy will say so.
        if (!location) return Place{false, std::nullopt};
        std::optional<bool> own;
        if (location->exists()) {
            own = holds(*location, item, identity);
            if (own == false) continue;
        }
        claimedPaths_.emplace(key, index);
        item.relativePath = candidate;
        return Place{own.value_or(false), location};
    }
    // Every name taken (or cut back to one that is): nothing is written over.
    return Place{false, std::nullopt, true};
}

}  // namespace tarvik
