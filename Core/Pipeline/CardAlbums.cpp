#include "Core/Pipeline/CardAlbums.hpp"

#include <algorithm>
#include <charconv>
#include <set>
#include <utility>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Pipeline/Placement.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik {
namespace {

using Item = ConversionPlan::Item;
using SDCardTools::CardTree;
using SDCardTools::joined;

// Numbers tried before a track gives up: far beyond real cards, and a bound
// where a name cut to its limit comes back the same.
constexpr std::int64_t numberLimit = 9999;

std::string folderOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? std::string_view()
                                                       : path.substr(0, slash));
}

std::string_view nameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string CardAlbums::numberedNotice(std::string_view name, std::string_view numbered, Why why) {
    const std::string_view because = why == Why::notAFolder ? "はフォルダではないため「"
                                     : why == Why::unclear
                                         ? "にはどのアルバムのものか分からない曲があるため「"
                                         : "には別のアルバムがあるため「";
    return "「" + std::string(name) + "」" + std::string(because) + std::string(numbered) +
           "」に書き出しました";
}

std::string CardAlbums::rewriteNotice(std::string_view path, std::string_view to,
                                      bool albumRenamed) {
    std::string change;
    if (!to.empty() && folderOf(path) == folderOf(to)) {
        change = "「" + std::string(nameOf(to)) + "」に名前を変えて";
    } else if (!to.empty()) {
        change = "「" + std::string(to) + "」に移して";
    }
    return "「" + std::string(path) + "」は" +
           (albumRenamed ? "アルバム名が変わったため、" : "曲名か番号が変わったため、") + change +
           "書き直します";
}

std::string CardAlbums::folderMoveNotice(const Place::FolderMove& move) {
    const bool sameParent = folderOf(move.from) == folderOf(move.to);
    return "「" + move.from + "」はアルバム名が変わったため、「" +
           (sameParent ? std::string(nameOf(move.to)) + "」に名前を変えます"
                       : move.to + "」に移します");
}

std::string CardAlbums::keptNotice(std::string_view folder, std::string_view wanted,
                                   SDCardTools::AlbumFolders::Kept why) {
    using Kept = SDCardTools::AlbumFolders::Kept;
    const std::string name =
        "「" + std::string(folderOf(folder) == folderOf(wanted) ? nameOf(wanted) : wanted) + "」";
    std::string because;
    switch (why) {
        case Kept::another:
            because = name + "には別のアルバムがあるため";
            break;
        case Kept::unclear:
            because = name + "にはどのアルバムのものか分からない曲があるため";
            break;
        case Kept::notAFolder:
            because = name + "はフォルダではないため";
            break;
        case Kept::taken:
            because = name + "というフォルダがすでにあるため";
            break;
        case Kept::shared:
            because = "ほかのアルバムの曲もあるため";
            break;
    }
    return "「" + std::string(folder) + "」はアルバム名が変わりましたが、" + because +
           "、名前を変えずに書き出しました";
}

std::string CardAlbums::strayNotice(std::string_view path, AudioFacts::Stray why) {
    const std::string_view kind = why == AudioFacts::Stray::empty ? "空のファイル"
                                  : why == AudioFacts::Stray::untagged ? "タグを読めないファイル"
                                                                       : "アルバム名のないファイル";
    return "「" + std::string(path) + "」は" + std::string(kind) + "のため、そのままにしました";
}

CardAlbums::CardAlbums(PosixFS::Root root, const DeviceProfile& profile, std::vector<Item>& items,
                       std::vector<std::string> identities, bool cardNames, std::stop_token stop,
                       CardTrackMatch::Decode decode)
    : tree_(std::move(root), stop),
      folders_(tree_),
      profile_(profile),
      items_(items),
      cardNames_(cardNames),
      matcher_(std::move(stop), std::move(decode)),
      // Only this layout gives each album a folder of its own; under the
      // others albums share folders, and only single files keep apart.
      albumFolders_(profile.files.layout == DeviceProfile::Files::Layout::artistAlbum),
      rules_(profile.nameRules()),
      identities_(std::move(identities)) {
    planned_.reserve(items.size());
    std::string previous;
    for (std::size_t index = 0; index < items_.size(); ++index) {
        planned_.push_back(items_[index].relativePath);
        const std::string folder = folderOf(planned_.back());
        mainFolders_.try_emplace(identities_[index], folder);
        tracks_[identities_[index]].push_back(&items_[index]);
        // Items come album by album: each folder is held once.
        if (albumFolders_ && !folder.empty() && (index == 0 || folder != previous)) {
            folders_.hold(onCard(folder, false), identities_[index]);
        }
        previous = folder;
    }
    // An album's files carry the identity of the library's record; where a
    // lookup renamed the album, those of cards written with its names count too.
    std::map<std::string, std::set<std::string>> accepted;
    for (std::size_t index = 0; index < items_.size(); ++index) {
        accepted[identities_[index]].insert(identities_[index]);
        accepted[identities_[index]].insert(AlbumIdentity::of(items_[index].libraryMeta()));
    }
    songs_.reserve(items_.size());
    for (std::size_t index = 0; index < items_.size(); ++index) {
        const Item& item = items_[index];
        const std::set<std::string>& albums = accepted.at(identities_[index]);
        songs_.push_back({&item.meta, item.library ? &*item.library : nullptr,
                          std::vector<std::string>(albums.begin(), albums.end()),
                          AlbumIdentity::trackOf(item.libraryMeta())});
    }
}

const std::set<std::string>& CardAlbums::planPaths() {
    if (!planPaths_) {
        planPaths_.emplace();
        for (const std::string& path : planned_) {
            planPaths_->insert(CardTree::pathKey(onCard(path, true)));
        }
    }
    return *planPaths_;
}

std::string CardAlbums::onCard(const std::string& planned, bool isFile) const {
    if (!cardNames_) return planned;
    return isFile ? SDCardTools::cardFilePath(planned) : SDCardTools::cardRelativePath(planned);
}

// The album's folder before the planner numbered it apart from another
// album of the plan: the search looks there and at every number.
std::string CardAlbums::baseOf(std::size_t index) const {
    const std::string folder = folderOf(planned_[index]);
    // Further folders of one album are its overflow folders: each is its own.
    if (mainFolders_.at(identities_[index]) != folder) return folder;
    const Item& item = items_[index];
    const std::string name = Placement::albumName(item.meta, profile_, item.albumIndex + 1);
    const std::string_view last = nameOf(folder);
    const std::size_t space = last.rfind(' ');
    std::int64_t n = 0;
    if (space == std::string_view::npos ||
        std::from_chars(last.data() + space + 1, last.data() + last.size(), n).ec != std::errc{} ||
        n < 2 || SDCardTools::numberedFolder(name, n, rules_) != last) {
        return folder;
    }
    return joined(folderOf(folder), name);
}

SDCardTools::AlbumFolders::Album CardAlbums::albumOf(std::size_t index) {
    const std::string& identity = identities_[index];
    const std::vector<const Item*>& tracks = tracks_.at(identity);
    // Where an earlier run without the lookup put the album, where the
    // lookup renamed it since.
    const std::string base = baseOf(index);
    std::set<std::string> fileKeys;
    for (const Item* track : tracks) {
        fileKeys.insert(CardTree::fileKey(nameOf(onCard(track->relativePath, true))));
    }
    return {.owner = identity,
            .base = base,
            .formerBases = formerFolders(index, base),
            .cardNames = cardNames_,
            .identities = songs_[index].albums,
            .naming =
                [&tracks](const CardTrackMatch::CardFile& card) {
                    // As this run names the album, or as an earlier run
                    // wrote it from the library's records.
                    std::vector<const TrackMeta*> records;
                    for (const Item* track : tracks) {
                        records.push_back(&track->meta);
                        if (track->library) records.push_back(&*track->library);
                    }
                    return CardOwnership::naming(card, records);
                },
            .isTrack =
                [this, &tracks](const std::string&, const CardTrackMatch::CardFile& card) {
                    return matcher_.isTrack(tracks, card);
                },
            .rules = rules_,
            .fileKeys = fileKeys,
            .namedNow =
                [&tracks](const CardTrackMatch::CardFile& card) {
                    std::vector<const TrackMeta*> records;
                    for (const Item* track : tracks) records.push_back(&track->meta);
                    return CardOwnership::naming(card, records);
                }};
}

std::vector<std::string> CardAlbums::formerFolders(std::size_t index, const std::string& folder) {
    std::vector<std::string> folders;
    for (const Item* track : tracks_.at(identities_[index])) {
        if (!track->library) continue;
        std::string former =
            Placement::location(*track->library, profile_, track->albumIndex + 1, 0).folder;
        if (former != folder && std::ranges::find(folders, former) == folders.end()) {
            folders.push_back(std::move(former));
        }
    }
    return folders;
}

void CardAlbums::prefetch() {
    std::vector<std::string> folders;
    std::set<std::string> asked;
    for (std::size_t index = 0; index < items_.size(); ++index) {
        const std::string planned = folderOf(planned_[index]);
        if (planned.empty() || !asked.insert(identities_[index] + '\0' + planned).second) continue;
        if (albumFolders_) {
            for (std::string& folder : folders_.candidates(albumOf(index))) {
                folders.push_back(std::move(folder));
            }
        } else {
            std::vector<std::string> shared = formerFolders(index, planned);
            shared.push_back(planned);
            for (const std::string& folder : shared) {
                if (const std::optional<CardTree::Located> located =
                        tree_.locate(onCard(folder, false), true);
                    located && located->exists() && located->kind == CardTree::Kind::folder) {
                    folders.push_back(located->relative);
                }
            }
        }
    }
    tree_.prefetch(folders);
}

std::optional<std::string> CardAlbums::realFolder(std::size_t index, Place& place) {
    const std::string& identity = identities_[index];
    const std::string planned = folderOf(planned_[index]);
    const auto [known, fresh] = answers_.try_emplace(identity + '\0' + planned);
    Answer& answer = known->second;
    if (!fresh) {
        place.link = answer.link;
        return answer.folder;
    }
    if (!albumFolders_ || planned.empty()) {
        const std::optional<CardTree::Located> located = tree_.locate(onCard(planned, false), true);
        if (!located) {
            answer.folder = planned;
        } else if (const std::optional<std::string> link = located->link()) {
            answer.link = tree_.fullPath(*link).native();
        } else {
            answer.folder = located->relative;
        }
        place.link = answer.link;
        if (answer.folder && !albumFolders_) {
            std::vector<std::size_t> members;
            for (std::size_t other = index; other < items_.size(); ++other) {
                if (identities_[other] == identity && folderOf(planned_[other]) == planned) {
                    members.push_back(other);
                }
            }
            claimShared(*answer.folder, members);
        }
        return answer.folder;
    }
    const SDCardTools::AlbumFolders::Album album = albumOf(index);
    SDCardTools::AlbumFolders::Result result;
    try {
        result = folders_.find(album);
    } catch (...) {
        answers_.erase(known);  // stopped while a file was checked: nothing decided
        throw;
    }
    if (result.link) {
        answer.link = tree_.fullPath(*result.link).native();
        place.link = answer.link;
        return std::nullopt;
    }
    if (!result.found) return std::nullopt;
    const std::string& folder = result.found->folder;
    answer.folder = folder;
    if (!result.found->own && result.found->number > 1) {
        const Why why = result.found->notAFolder ? Why::notAFolder
                        : result.found->unclear  ? Why::unclear
                                                 : Why::another;
        place.notices.push_back(
            numberedNotice(SDCardTools::lastComponent(onCard(album.base, false)),
                           SDCardTools::lastComponent(folder), why));
    }
    if (result.found->movedFrom)
        place.folderMove = Place::FolderMove{*result.found->movedFrom, folder};
    if (result.found->notMovedTo) {
        place.notices.push_back(keptNotice(folder, *result.found->notMovedTo, result.found->kept));
    }
    // The album's other items follow it, so that a full card takes back
    // what it wrote of the album there.
    std::vector<std::size_t> members;
    for (std::size_t other = index; other < items_.size(); ++other) {
        if (identities_[other] == identity && folderOf(planned_[other]) == planned) {
            items_[other].relativePath = joined(folder, nameOf(planned_[other]));
            members.push_back(other);
        }
    }
    if (result.found->own) claimCopies(folder, members, audioFiles(folder));
    tellStrays(folder, place);
    return folder;
}

// The files in the album's folder that tell nothing of their album: left
// as they are, and told, so that the user can see to them.
void CardAlbums::tellStrays(const std::string& folder, Place& place) {
    for (const CardTree::Entry& entry : tree_.entries(folder)) {
        const std::string file = joined(folder, entry.name);
        // A copy of one of the album's tracks is no stray, nor is a file
        // that carries an album identity.
        if (!CardTree::isAudioFile(entry) || tree_.identity(file) ||
            claimedPaths_.contains(CardTree::pathKey(file))) {
            continue;
        }
        const std::optional<AudioFacts::Facts>& facts = tree_.facts(file);
        // One whose tag is there but can't be read stays too, whoever's it is.
        std::optional<AudioFacts::Stray> why = AudioFacts::stray(facts);
        if (!why && facts && facts->unreadable) why = AudioFacts::Stray::untagged;
        if (why) place.notices.push_back(strayNotice(file, *why));
    }
}

CardOwnership::Match CardAlbums::matchOf(const std::string& file, std::size_t index,
                                         bool atItsName) {
    return CardOwnership::match(tree_.carried(file), tree_.facts(file), songs_[index], atItsName,
                                [&](const std::optional<double>& seconds) {
                                    return matcher_.lengthAgrees(items_[index].source, seconds);
                                });
}

bool CardAlbums::isCut(const std::string& file) {
    return CardOwnership::cutBeyondTelling(tree_.carried(file), tree_.facts(file));
}

void CardAlbums::claim(std::size_t index, const std::string& file, CardOwnership::Match match) {
    copies_[index] = {file, match};
    claimedPaths_[CardTree::pathKey(file)] = index;
}

std::vector<std::string> CardAlbums::audioFiles(const std::string& folder) {
    std::vector<std::string> files;
    for (const CardTree::Entry& entry : tree_.entries(folder)) {
        if (CardTree::isAudioFile(entry)) files.push_back(joined(folder, entry.name));
    }
    return files;
}

// The files of a shared folder that may be the album's: by the identities
// its files may carry, or the keys of its names, or naming no album at all;
// in the order the folder lists them.
void CardAlbums::claimShared(const std::string& folder, const std::vector<std::size_t>& album) {
    const std::size_t first = album.front();
    std::vector<std::string> folders{folder};
    for (const std::string& former : formerFolders(first, folderOf(planned_[first]))) {
        const std::optional<CardTree::Located> located = tree_.locate(onCard(former, false), true);
        if (located && located->exists() && located->kind == CardTree::Kind::folder &&
            std::ranges::find(folders, located->relative) == folders.end()) {
            folders.push_back(located->relative);
        }
    }
    // The keys depend on the album's name alone, which its tracks share.
    std::map<std::string, const TrackMeta*> named;
    for (const Item* track : tracks_.at(identities_[first])) {
        named.try_emplace(track->meta.album, &track->meta);
        if (track->library) named.try_emplace(track->library->album, &*track->library);
    }
    std::set<std::string> keys;
    for (const auto& [name, meta] : named) {
        for (std::string& key : CardOwnership::albumKeys(*meta)) keys.insert(std::move(key));
    }
    std::vector<std::string> files;
    for (const std::string& shared : folders) {
        const Shared& index = sharedIn(shared);
        std::set<std::size_t> picked(index.anyAlbum.begin(), index.anyAlbum.end());
        const auto pick = [&](const auto& map, const std::string& key) {
            if (const auto found = map.find(key); found != map.end()) {
                picked.insert(found->second.begin(), found->second.end());
            }
        };
        for (const std::string& identity : songs_[first].albums) pick(index.marked, identity);
        for (const std::string& key : keys) pick(index.unmarked, key);
        for (const std::size_t at : picked) files.push_back(index.files[at]);
    }
    claimCopies(folder, album, files);
}

const CardAlbums::Shared& CardAlbums::sharedIn(const std::string& folder) {
    if (const auto known = shared_.find(folder); known != shared_.end()) return known->second;
    Shared index;
    index.files = audioFiles(folder);
    tree_.readIdentities(index.files);
    for (std::size_t at = 0; at < index.files.size(); ++at) {
        if (const std::optional<std::string>& carried = tree_.identity(index.files[at])) {
            index.marked[*carried].push_back(at);
        } else if (const std::optional<AudioFacts::Facts>& card = tree_.facts(index.files[at])) {
            if (const auto keys = CardOwnership::albumKeys(*card)) {
                for (const std::string& key : *keys) index.unmarked[key].push_back(at);
            } else {
                index.anyAlbum.push_back(at);
            }
        }
    }
    return shared_.emplace(folder, std::move(index)).first->second;
}

// Each song's copy at its planned name first, then one as this run writes
// it under any name (the user's), then one as an earlier run wrote it.
void CardAlbums::claimCopies(const std::string& folder, const std::vector<std::size_t>& album,
                             const std::vector<std::string>& files) {
    using Match = CardOwnership::Match;
    const auto unclaimed = [&](const std::string& file) {
        return !claimedPaths_.contains(CardTree::pathKey(file));
    };
    for (const std::size_t index : album) {
        const std::optional<CardTree::Located> located =
            tree_.locate(joined(folder, nameOf(planned_[index])));
        if (located && located->exists() && located->kind == CardTree::Kind::file &&
            unclaimed(located->relative) &&
            (matchOf(located->relative, index, true) == Match::same || isCut(located->relative))) {
            claim(index, located->relative, Match::same);
        }
    }
    for (const Match wanted : {Match::same, Match::earlier}) {
        for (const std::size_t index : album) {
            if (copies_.contains(index)) continue;
            for (const std::string& file : files) {
                if (unclaimed(file) && matchOf(file, index, false) == wanted) {
                    claim(index, file, wanted);
                    break;
                }
            }
        }
    }
}

CardAlbums::AtPlace CardAlbums::atPlace(const CardTree::Located& at, std::size_t index) {
    if (!at.exists()) return AtPlace::nothing;
    // A link, even to the right file, or anything but a regular file is
    // never the track: it stays as it is.
    if (at.kind != CardTree::Kind::file) return AtPlace::other;
    // Its copy under an earlier title or number: written over where it lies.
    if (const auto copy = copies_.find(index);
        copy != copies_.end() && CardTree::pathKey(copy->second.file) == at.key) {
        return copy->second.match == CardOwnership::Match::earlier ? AtPlace::nothing
                                                                   : AtPlace::track;
    }
    const std::optional<CardTrackMatch::CardFile>& card = tree_.facts(at.relative);
    const CardOwnership::Match match = matchOf(at.relative, index, true);
    if (match == CardOwnership::Match::none && !isCut(at.relative)) return AtPlace::other;
    // A copy that ended early, or tagged as an earlier run wrote it, is the
    // track's own, to be written again whole in its place.
    return AudioFacts::isWhole(card) && match == CardOwnership::Match::same ? AtPlace::track
                                                                            : AtPlace::cutTrack;
}

CardAlbums::Place CardAlbums::place(std::size_t index) {
    Item& item = items_[index];
    Place place;
    const std::optional<std::string> folder = realFolder(index, place);
    if (!folder) {
        place.blocked = !place.link;
        return place;
    }
    const auto copy = copies_.find(index);
    if (copy != copies_.end() && copy->second.match == CardOwnership::Match::same) {
        // Its copy, under whatever name it has: kept there, or written
        // again in its place when it is not whole.
        const std::optional<CardTree::Located> located = tree_.locate(copy->second.file);
        const std::optional<CardTrackMatch::CardFile>& card = tree_.facts(copy->second.file);
        item.relativePath = copy->second.file;
        place.present = AudioFacts::isWhole(card);
        place.rewrites = !place.present;
        place.location =
            PosixFS::Location{tree_.fullPath(copy->second.file), located->found, located->levels};
        return place;
    }

    const std::string stem(nameOf(planned_[index]));
    const std::size_t dot = stem.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : stem.substr(dot);
    for (std::int64_t n = 1; n <= numberLimit; ++n) {
        const std::string candidate =
            n == 1 ? joined(*folder, stem)
                   : joined(*folder,
                            SafeName::withSuffix(stem.substr(0, stem.size() - extension.size()),
                                                 " " + std::to_string(n), rules_, extension) +
                                extension);
        const std::optional<CardTree::Located> located = tree_.locate(candidate);
        if (!located) break;
        const std::string& key = located->key;
        if (n > 1 && planPaths().contains(key)) continue;  // another track's place
        if (const auto claimed = claimedPaths_.find(key);
            claimed != claimedPaths_.end() && claimed->second != index) {
            continue;
        }
        if (located->blockedByLink) {
            place.link = tree_.fullPath(*located->blockedAt).native();
            return place;
        }
        // A file where a folder should be: the copy will say so.
        const AtPlace there = located->blockedAt ? AtPlace::nothing : atPlace(*located, index);
        if (there == AtPlace::other) continue;
        claimedPaths_.emplace(key, index);
        if (!located->blockedAt) tree_.note(located->relative);
        item.relativePath = located->relative;
        place.present = there == AtPlace::track;
        place.rewrites = there == AtPlace::cutTrack;
        place.location =
            PosixFS::Location{tree_.fullPath(located->relative), located->found, located->levels};
        if (copy != copies_.end()) {
            place.replaces = copy->second.file;
            const std::optional<CardTrackMatch::CardFile>& card = tree_.facts(copy->second.file);
            place.albumRenamed = card && CardOwnership::sameSong(*card, item.meta);
        }
        return place;
    }
    // Every name taken (or cut back to one that is): nothing is written over.
    place.blocked = true;
    return place;
}

}  // namespace tarvik
