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

}  // namespace

std::string numberedFolder(std::string_view name, std::int64_t n, const SafeName::Rules& rules) {
    return SafeName::withSuffix(name, " " + std::to_string(n), rules);
}

AlbumFolders::AlbumFolders(CardTree& tree) : tree_(tree) {}

void AlbumFolders::hold(const std::string& folder, const std::string& owner) {
    held_[CardTree::pathKey(folder, true)].insert(owner);
}

bool AlbumFolders::heldByAnother(const std::string& key, const std::string& owner) const {
    const auto found = held_.find(key);
    return found != held_.end() && (found->second.size() > 1 || !found->second.contains(owner));
}

bool AlbumFolders::claimedByAnother(const std::string& key, const std::string& owner) const {
    const auto found = claimed_.find(key);
    return found != claimed_.end() && found->second != owner;
}

std::string AlbumFolders::nameFor(const Album& album, const std::string& base, std::int64_t n) {
    const std::string name = lastComponent(base);
    const std::string numbered = n == 1 ? name : numberedFolder(name, n, album.rules);
    return album.cardNames ? safeName(numbered, true) : numbered;
}

AlbumFolders::Holder AlbumFolders::whose(const std::string& file, const Album& album) {
    if (const std::optional<std::string>& carried = tree_.identity(file)) {
        return std::ranges::find(album.identities, *carried) != album.identities.end()
                   ? Holder::album
                   : Holder::another;
    }
    const std::optional<CardFile>& card = tree_.facts(file);
    if (CardOwnership::cutBeyondTelling(tree_.carried(file), card) &&
        album.fileKeys.contains(CardTree::fileKey(lastComponent(file)))) {
        return Holder::album;
    }
    return CardOwnership::whose(
        card, [&] { return album.naming ? album.naming(*card) : CardOwnership::Naming::unclear; },
        [&] { return album.isTrack && album.isTrack(file, *card); });
}

AlbumFolders::Holder AlbumFolders::holder(const std::string& folder, const Album& album) {
    const std::string cacheKey = folder + '\0' + album.owner;
    if (const auto known = holders_.find(cacheKey); known != holders_.end()) return known->second;
    // Files that carry an identity first: they are read cheaply, and one of
    // another album's spares the checks of the files that carry none.
    std::vector<std::string> files;
    for (const CardTree::Entry& entry : tree_.entries(folder)) {
        if (CardTree::isAudioFile(entry)) files.push_back(joined(folder, entry.name));
    }
    tree_.readIdentities(files);
    std::ranges::stable_partition(
        files, [&](const std::string& file) { return tree_.identity(file).has_value(); });
    // The album's own files make the folder its, whatever lies beside them.
    const bool ours = std::ranges::any_of(files, [&](const std::string& file) {
        const std::optional<std::string>& carried = tree_.identity(file);
        return carried && std::ranges::find(album.identities, *carried) != album.identities.end();
    });
    Holder verdict = ours ? Holder::album : Holder::nobody;
    for (std::size_t at = 0; !ours && verdict != Holder::another && at < files.size(); ++at) {
        verdict = CardOwnership::weightier(verdict, whose(files[at], album));
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

AlbumFolders::Forms AlbumFolders::formsOf(const Album& album, const std::string& base) {
    Forms forms;
    const std::string plannedParent = parentPath(base);
    forms.parent = album.cardNames ? cardRelativePath(plannedParent) : std::string(plannedParent);
    forms.realParent = forms.parent;
    bool parentThere = forms.parent.empty();
    if (!forms.parent.empty()) {
        const std::optional<CardTree::Located> located = tree_.locate(forms.parent, true);
        if (!located) {
            forms.unusable = true;
            return forms;
        }
        if (std::optional<std::string> link = located->link()) {
            forms.link = std::move(link);
            return forms;
        }
        forms.realParent = located->relative;
        // Anything else in the way is no folder: the copy will say so.
        parentThere = located->exists() && located->kind == CardTree::Kind::folder;
    }
    if (!parentThere) return forms;

    // The card's folders that are the album's name or a numbered form of it,
    // lowest number first, and the name itself before a case-blind twin.
    const std::string unnumbered = CardTree::folderKey(nameFor(album, base, 1));
    for (const CardTree::Entry& entry : tree_.entries(forms.realParent)) {
        std::int64_t n = 0;
        if (entry.folderKey == unnumbered) {
            n = 1;
        } else if (const std::optional<std::int64_t> number = trailingNumber(entry.folderKey);
                   number &&
                   CardTree::folderKey(nameFor(album, base, *number)) == entry.folderKey) {
            n = *number;
        } else {
            continue;
        }
        forms.there.push_back({n, entry.name != nameFor(album, base, n), &entry});
    }
    std::ranges::sort(forms.there, [](const Form& a, const Form& b) {
        return a.number != b.number ? a.number < b.number : a.twin < b.twin;
    });
    return forms;
}

std::vector<std::string> AlbumFolders::candidates(const Album& album) {
    std::vector<std::string> folders;
    std::vector<std::string> bases{album.base};
    bases.insert(bases.end(), album.formerBases.begin(), album.formerBases.end());
    for (const std::string& base : bases) {
        const Forms forms = formsOf(album, base);
        for (const Form& form : forms.there) {
            if (form.entry->kind == CardTree::Kind::folder) {
                folders.push_back(joined(forms.realParent, form.entry->name));
            }
        }
    }
    return folders;
}

AlbumFolders::Result AlbumFolders::search(const Album& album) {
    Result result;
    const Forms forms = formsOf(album, album.base);
    if (forms.unusable) return result;
    if (forms.link) {
        result.link = forms.link;
        return result;
    }
    const std::string& parent = forms.parent;
    const std::string& realParent = forms.realParent;
    const std::string ownName = joined(realParent, nameFor(album, album.base, 1));

    // Why the unnumbered name was passed over: another album is there,
    // files whose album can't be told, or something that is no folder.
    bool unclear = false;
    bool notAFolder = false;
    const auto take = [&](const std::string& folder, std::int64_t n, bool own) {
        claim(folder, album.owner);
        result.found = Found{folder, n, own, n > 1 && unclear, n > 1 && notAFolder};
        return result;
    };
    // Where the album's files already are, that is its folder.
    for (const Form& form : forms.there) {
        const std::string folder = joined(realParent, form.entry->name);
        if (form.entry->kind != CardTree::Kind::folder ||
            claimedByAnother(CardTree::pathKey(folder, true), album.owner)) {
            continue;
        }
        if (holder(folder, album) == Holder::album) {
            result.found = settle(album, folder, form.number,
                                  joined(realParent, nameFor(album, album.base, form.number)));
            return result;
        }
    }
    // Or where an earlier run put it under the names the library gives it,
    // before a lookup renamed it. A folder taken already is another part of
    // the album, which an overflow folder is not.
    for (const std::string& former : album.formerBases) {
        const Forms earlier = formsOf(album, former);
        if (earlier.unusable || earlier.link) continue;
        for (const Form& form : earlier.there) {
            const std::string folder = joined(earlier.realParent, form.entry->name);
            if (form.entry->kind == CardTree::Kind::folder &&
                !claimed_.contains(CardTree::pathKey(folder, true)) &&
                holder(folder, album) == Holder::album) {
                result.found = settle(album, folder, form.number, ownName);
                return result;
            }
        }
    }
    // Or beside its name, where an earlier run named it otherwise.
    if (const std::optional<std::string> beside = besideIt(album, forms)) {
        result.found = settle(album, *beside, 1, ownName);
        return result;
    }
    // Else the first name that nobody holds: on the card, in the plan or send,
    // or by an earlier decision of this run.
    for (std::int64_t n = 1; n <= numberLimit; ++n) {
        const std::string wanted = nameFor(album, album.base, n);
        const std::string key = CardTree::pathKey(joined(parent, wanted), true);
        if (claimedByAnother(key, album.owner) || (n > 1 && heldByAnother(key, album.owner))) {
            continue;
        }
        const auto there =
            std::ranges::find_if(forms.there, [&](const Form& form) { return form.number == n; });
        if (there == forms.there.end()) return take(joined(realParent, wanted), n, false);
        const CardTree::Entry& entry = *there->entry;
        const std::string folder = joined(realParent, entry.name);
        const bool isFolder = entry.kind == CardTree::Kind::folder;
        const Holder whoseFolder = isFolder ? holder(folder, album) : Holder::another;
        if (whoseFolder == Holder::nobody) return take(folder, n, false);
        if (n == 1) {
            unclear = whoseFolder == Holder::unclear;
            notAFolder = !isFolder;
        }
    }
    return result;
}

void AlbumFolders::claim(const std::string& folder, const std::string& owner) {
    claimed_.emplace(CardTree::pathKey(folder, true), owner);
}

AlbumFolders::Survey AlbumFolders::survey(const std::string& folder, const Album& album) {
    std::vector<std::string> files;
    for (const CardTree::Entry& entry : tree_.entries(folder)) {
        if (CardTree::isAudioFile(entry)) files.push_back(joined(folder, entry.name));
    }
    tree_.readIdentities(files);
    Survey seen;
    for (const std::string& file : files) {
        const std::optional<std::string>& carried = tree_.identity(file);
        const Holder holder =
            carried ? (std::ranges::find(album.identities, *carried) != album.identities.end()
                           ? Holder::album
                           : Holder::another)
                    : whose(file, album);
        if (holder == Holder::another || holder == Holder::unclear) {
            seen.others = true;
        } else if (holder == Holder::album && !seen.namedOtherwise && album.namedNow) {
            const std::optional<CardFile>& card = tree_.facts(file);
            seen.namedOtherwise = card && album.namedNow(*card) == CardOwnership::Naming::differs;
        }
    }
    return seen;
}

std::optional<std::string> AlbumFolders::besideIt(const Album& album, const Forms& forms) {
    if (album.identities.empty()) return std::nullopt;
    std::vector<std::pair<std::string, std::string>> folders;  // NFC name, name
    for (const CardTree::Entry& entry : tree_.entries(forms.realParent)) {
        const bool aForm = std::ranges::any_of(
            forms.there, [&](const Form& form) { return form.entry->name == entry.name; });
        if (entry.kind == CardTree::Kind::folder && !aForm)
            folders.emplace_back(entry.nfc, entry.name);
    }
    std::ranges::sort(folders);  // not the order the card lists them in
    for (const auto& [nfc, name] : folders) {
        const std::string folder = joined(forms.realParent, name);
        if (claimed_.contains(CardTree::pathKey(folder, true))) continue;
        std::vector<std::string> files;
        for (const CardTree::Entry& entry : tree_.entries(folder)) {
            if (CardTree::isAudioFile(entry)) files.push_back(joined(folder, entry.name));
        }
        tree_.readIdentities(files);
        const bool carries = std::ranges::any_of(files, [&](const std::string& file) {
            const std::optional<std::string>& carried = tree_.identity(file);
            return carried &&
                   std::ranges::find(album.identities, *carried) != album.identities.end();
        });
        if (carries && !survey(folder, album).others) return folder;
    }
    return std::nullopt;
}

AlbumFolders::Found AlbumFolders::settle(const Album& album, const std::string& folder,
                                         std::int64_t n, const std::string& wanted) {
    Found found{folder, n, true};
    const auto keep = [&](std::optional<Kept> why) {
        claim(folder, album.owner);
        if (why) {
            found.notMovedTo = wanted;
            found.kept = *why;
        }
        return found;
    };
    if (folder == wanted || !album.namedNow) return keep(std::nullopt);
    const Survey seen = survey(folder, album);
    // Songs that name the album as now: a name the user gave the folder.
    if (!seen.namedOtherwise) return keep(std::nullopt);
    if (seen.others) return keep(Kept::shared);
    const std::string key = CardTree::pathKey(wanted, true);
    // Another spelling of its own name takes the name's letters in its place.
    if (key != CardTree::pathKey(folder, true)) {
        if (claimedByAnother(key, album.owner)) return keep(Kept::another);
        const std::optional<CardTree::Located> there = tree_.locate(wanted, true);
        if (!there || there->blockedAt) return keep(Kept::notAFolder);
        if (there->exists()) {
            if (there->kind != CardTree::Kind::folder) return keep(Kept::notAFolder);
            switch (holder(there->relative, album)) {
                case Holder::unclear:
                    return keep(Kept::unclear);
                case Holder::nobody:
                    return keep(Kept::taken);
                case Holder::album:
                case Holder::another:
                    return keep(Kept::another);
            }
        }
    }
    tree_.moved(folder, wanted);
    claim(wanted, album.owner);
    if (key != CardTree::pathKey(folder, true)) found.number = 1;
    found.folder = wanted;
    found.movedFrom = folder;
    return found;
}

}  // namespace tarvik::SDCardTools
