#include "Core/SDCard/CardAlbumPlaces.hpp"

#include <algorithm>
#include <fstream>
#include <limits>
#include <utility>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {
namespace {

// Numbers tried before a file gives up.
constexpr std::int64_t numberLimit = 9999;

// A send keeps every name whole, as the export folder has it.
const SafeName::Rules sendRules{.nameMax = std::numeric_limits<std::int64_t>::max()};

// `name` with " n" before its extension.
std::string numberedFile(const std::string& name, std::int64_t n) {
    const std::size_t dot = name.rfind('.');
    const std::size_t at = dot == std::string::npos ? name.size() : dot;
    return name.substr(0, at) + " " + std::to_string(n) + name.substr(at);
}

// Compared chunk by chunk, the stop heeded before each (Cancelled): the
// files may be large and the card slow.
bool sameBytes(const std::filesystem::path& a, const std::filesystem::path& b,
               std::stop_token stop) {
    std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
    if (!first || !second) return false;
    char one[65536], two[65536];
    for (;;) {
        if (stop.stop_requested()) throw Cancelled();
        first.read(one, sizeof one);
        second.read(two, sizeof two);
        if (first.gcount() != second.gcount()) return false;
        if (!std::equal(one, one + first.gcount(), two)) return false;
        if (first.gcount() == 0 || !first || !second) return first.eof() && second.eof();
    }
}

}  // namespace

std::optional<std::string> identityOf(const Album& album, std::stop_token stop) {
    for (const std::string& file : album.files) {
        if (std::optional<std::string> identity =
                AlbumIdentity::read(album.sourceDir / file, stop)) {
            return identity;
        }
    }
    return std::nullopt;
}

CardAlbumPlaces::CardAlbumPlaces(PosixFS::Root card, const std::vector<Album>& albums,
                                 std::stop_token stop)
    : stop_(std::move(stop)), tree_(std::move(card), stop_), folders_(tree_), albums_(albums) {
    identities_.reserve(albums.size());
    for (std::size_t index = 0; index < albums.size(); ++index) {
        std::optional<std::string> identity = identityOf(albums[index], stop_);
        identities_.push_back(identity ? std::vector{std::move(*identity)}
                                       : std::vector<std::string>{});
        folders_.hold(cardRelativePath(albums[index].relativePath), std::to_string(index));
    }
}

const CardAlbumPlaces::Exported& CardAlbumPlaces::exported(std::size_t index, std::size_t file) {
    const auto [known, fresh] = exported_.try_emplace({index, file});
    if (fresh) {
        try {
            Exported& read = known->second;
            const std::filesystem::path path =
                albums_[index].sourceDir / albums_[index].files[file];
            read.facts = AudioFacts::read(path, stop_);
            if (read.facts) {
                const SourceTags& tags = read.facts->tags;
                read.meta = TrackMeta(tags.title, tags.artist, tags.albumArtist, tags.album,
                                      tags.track, "", "", "");
            }
            read.song = {&read.meta, nullptr, identities_[index],
                         AlbumIdentity::carried(path, stop_).track};
        } catch (...) {
            exported_.erase(known);  // stopped: read again when asked
            throw;
        }
    }
    return known->second;
}

// Exported before files named their album: one of the album's files has
// the card file's bytes.
bool CardAlbumPlaces::sameBytesAsOne(std::size_t index, const std::string& cardFile) const {
    const std::filesystem::path onCard = tree_.fullPath(cardFile);
    const std::optional<std::uint64_t> size = PosixFS::size(onCard);
    if (!size) return false;
    for (const std::string& file : albums_[index].files) {
        const std::filesystem::path source = albums_[index].sourceDir / file;
        if (PosixFS::size(source) == size && sameBytes(onCard, source, stop_)) return true;
    }
    return false;
}

bool CardAlbumPlaces::sameTrack(std::size_t index, std::size_t file,
                                const CardOwnership::CardFile& card) {
    const Exported& source = exported(index, file);
    return source.facts && source.facts->tagged() &&
           CardOwnership::sameTrack(card, source.meta, source.facts->seconds);
}

bool CardAlbumPlaces::isFile(std::size_t index, std::size_t file, const std::string& cardFile,
                             const CardOwnership::CardFile& card) {
    // Its tags first: they are read already, the bytes are not.
    if (sameTrack(index, file, card)) return true;
    const std::filesystem::path onCard = tree_.fullPath(cardFile);
    const std::filesystem::path source = albums_[index].sourceDir / albums_[index].files[file];
    return PosixFS::size(onCard) == PosixFS::size(source) && sameBytes(onCard, source, stop_);
}

AlbumFolders::Album CardAlbumPlaces::query(std::size_t index) {
    // The album's names and tracks are those its exported files carry.
    const std::size_t files = albums_[index].files.size();
    const auto naming = [this, index, files](const CardOwnership::CardFile& card) {
        std::vector<const TrackMeta*> records;
        for (std::size_t file = 0; file < files; ++file) {
            const Exported& source = exported(index, file);
            if (source.facts && source.facts->tagged()) records.push_back(&source.meta);
        }
        return CardOwnership::naming(card, records);
    };
    const auto isTrack = [this, index, files](const std::string& cardFile,
                                              const CardOwnership::CardFile& card) {
        for (std::size_t file = 0; file < files; ++file) {
            if (sameTrack(index, file, card)) return true;
        }
        return sameBytesAsOne(index, cardFile);
    };
    std::set<std::string> fileKeys;
    for (const std::string& file : albums_[index].files) {
        fileKeys.insert(CardTree::fileKey(safeName(file, false)));
    }
    return AlbumFolders::Album{.owner = std::to_string(index),
                               .base = albums_[index].relativePath,
                               .cardNames = true,
                               .identities = identities_[index],
                               .naming = naming,
                               .isTrack = isTrack,
                               .rules = sendRules,
                               .fileKeys = fileKeys,
                               .namedNow = naming};
}

// The search keeps its answer for each album: asking again costs no card read.
std::optional<std::string> CardAlbumPlaces::folder(std::size_t index) {
    const std::optional<AlbumFolders::Found> found = folders_.find(query(index)).found;
    return found ? std::optional(found->folder) : std::nullopt;
}

std::optional<std::string> CardAlbumPlaces::link(std::size_t index) {
    return folders_.find(query(index)).link;
}

std::optional<std::string> CardAlbumPlaces::movedFrom(std::size_t index) {
    const std::optional<AlbumFolders::Found> found = folders_.find(query(index)).found;
    return found ? found->movedFrom : std::nullopt;
}

// Each file's place is decided once: asking again gives the same answer.
std::optional<CardAlbumPlaces::Target> CardAlbumPlaces::target(std::size_t index,
                                                               const std::string& file) {
    const auto key = std::pair(index, file);
    if (const auto known = targets_.find(key); known != targets_.end()) return known->second;
    std::optional<Target> decided = place(index, file);
    targets_.emplace(key, decided);
    return decided;
}

CardOwnership::Match CardAlbumPlaces::matchOf(std::size_t index, std::size_t file,
                                              const std::string& cardFile, bool atItsName) {
    const Exported& source = exported(index, file);
    return CardOwnership::match(tree_.carried(cardFile), tree_.facts(cardFile), source.song,
                                atItsName, [&](const std::optional<double>& seconds) {
                                    return CardOwnership::lengthsAgree(
                                        seconds,
                                        source.facts ? source.facts->seconds : std::nullopt);
                                });
}

// Each file's copy at its own card name first, then one as the export
// wrote it under any name (the user's), then one an earlier export wrote.
void CardAlbumPlaces::claimCopies(std::size_t index, const std::string& folder) {
    using Match = CardOwnership::Match;
    if (!claimed_.insert(index).second) return;
    std::vector<std::string> cardFiles;
    for (const CardTree::Entry& entry : tree_.entries(folder)) {
        if (CardTree::isAudioFile(entry)) cardFiles.push_back(joined(folder, entry.name));
    }
    const std::vector<std::string>& files = albums_[index].files;
    const auto take = [&](std::size_t file, const std::string& cardFile, Match match) {
        copies_[{index, file}] = {cardFile, match};
        claimedFiles_.insert(CardTree::pathKey(cardFile));
    };
    const auto unclaimed = [&](const std::string& cardFile) {
        return !claimedFiles_.contains(CardTree::pathKey(cardFile));
    };
    for (std::size_t file = 0; file < files.size(); ++file) {
        const std::optional<CardTree::Located> located =
            tree_.locate(joined(folder, safeName(files[file], false)));
        if (!located || !located->exists() || located->kind != CardTree::Kind::file ||
            !unclaimed(located->relative)) {
            continue;
        }
        const std::string& cardFile = located->relative;
        const std::optional<CardOwnership::CardFile>& card = tree_.facts(cardFile);
        const bool carries = tree_.identity(cardFile).has_value();
        if (matchOf(index, file, cardFile, true) == Match::same ||
            (!carries && card && isFile(index, file, cardFile, *card)) ||
            CardOwnership::cutBeyondTelling(tree_.carried(cardFile), card)) {
            take(file, cardFile, Match::same);
        }
    }
    for (const Match wanted : {Match::same, Match::earlier}) {
        for (std::size_t file = 0; file < files.size(); ++file) {
            if (copies_.contains({index, file})) continue;
            for (const std::string& cardFile : cardFiles) {
                if (unclaimed(cardFile) && matchOf(index, file, cardFile, false) == wanted) {
                    take(file, cardFile, wanted);
                    break;
                }
            }
        }
    }
}

std::optional<CardAlbumPlaces::Target> CardAlbumPlaces::place(std::size_t index,
                                                              const std::string& file) {
    const std::optional<AlbumFolders::Found> found = folders_.find(query(index)).found;
    if (!found) return std::nullopt;
    const std::vector<std::string>& files = albums_[index].files;
    const auto at = static_cast<std::size_t>(std::ranges::find(files, file) - files.begin());
    if (found->own) claimCopies(index, found->folder);
    std::optional<std::string> earlier;
    if (const auto copy = copies_.find({index, at}); copy != copies_.end()) {
        const auto& [cardFile, match] = copy->second;
        if (match == CardOwnership::Match::earlier) {
            earlier = cardFile;
        } else {
            // Its copy, under whatever name it has.
            const std::optional<CardOwnership::CardFile>& card = tree_.facts(cardFile);
            return Target{.relative = cardFile,
                          .own = true,
                          .matched = !tree_.identity(cardFile),
                          .whole = AudioFacts::isWhole(card)};
        }
    }
    const std::string base = safeName(file, false);
    for (std::int64_t n = 1; n <= numberLimit; ++n) {
        const std::string name = n == 1 ? base : numberedFile(base, n);
        const std::optional<CardTree::Located> located = tree_.locate(joined(found->folder, name));
        if (!located || located->blockedAt) return std::nullopt;
        const bool itsEarlierCopy = earlier && CardTree::pathKey(*earlier) == located->key;
        if (!itsEarlierCopy && claimedFiles_.contains(located->key)) continue;
        Target target{located->relative};
        if (located->exists() && !itsEarlierCopy) {
            // A link or a folder stays as it is; so does another album's or
            // song's file.
            if (located->kind != CardTree::Kind::file || at >= files.size()) continue;
            const std::optional<CardOwnership::CardFile>& card = tree_.facts(located->relative);
            const bool carries = tree_.identity(located->relative).has_value();
            target.own =
                carries ? matchOf(index, at, located->relative, true) == CardOwnership::Match::same
                        : card && isFile(index, at, located->relative, *card);
            target.matched = target.own && !carries;
            if (!target.own) continue;
            target.whole = AudioFacts::isWhole(card);
        }
        target.replaces = earlier;
        claimedFiles_.insert(located->key);
        return target;
    }
    return std::nullopt;
}

bool CardAlbumPlaces::holdsCopy(std::size_t index, const std::string& file, const Target& target) {
    if (!target.own || target.replaces || !target.whole) return false;
    if (target.matched) return true;
    // As read, not as the card has it now: a folder to be renamed is not
    // yet where the target names it.
    const std::optional<AudioFacts::Facts>& onCard = tree_.facts(target.relative);
    return onCard && onCard->size == PosixFS::size(albums_[index].sourceDir / file);
}

bool CardAlbumPlaces::complete(std::size_t index) {
    if (albums_[index].files.empty()) return true;
    const std::optional<AlbumFolders::Found> found = folders_.find(query(index)).found;
    // A folder that is free but not the album's is no copy of it, nor is
    // one that still has to take the album's name.
    if (!found || !found->own || found->movedFrom) return false;
    return std::ranges::all_of(albums_[index].files, [&](const std::string& file) {
        const std::optional<Target> place = target(index, file);
        return place && holdsCopy(index, file, *place);
    });
}

}  // namespace tarvik::SDCardTools
