#include "Core/SDCard/CardSending.hpp"

#include <cerrno>
#include <optional>
#include <set>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/ByteCountFormat.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/CardAlbumPlaces.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardTree.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {
namespace {

std::int64_t sizeOf(const std::filesystem::path& path) {
    const std::optional<std::uint64_t> size = PosixFS::size(path);
    return size ? static_cast<std::int64_t>(*size) : 0;
}

// Moves the file's copy an earlier export wrote under another title or
// number to where the file goes, so that the copy replaces it there and the
// card holds one copy at every moment.
void moveEarlierCopy(const PosixFS::Root& card, const CardAlbumPlaces::Target& target) {
    if (!target.replaces || *target.replaces == target.relative) return;
    const std::filesystem::path from = card.folder / *target.replaces;
    const std::filesystem::path to = card.folder / target.relative;
    // Only a change of letter case needs the card's two-step rename.
    if (CardTree::fileKey(from.filename().string()) == CardTree::fileKey(to.filename().string())) {
        renameOnCard(from, to.filename().string());
    } else {
        PosixFS::rename(from, to);
    }
}

PosixFS::Root cardRootOf(const std::filesystem::path& cardRoot) {
    std::optional<PosixFS::Root> root = PosixFS::rootAt(cardRoot);
    if (!root) {
        throw ConversionError(
            fileSystemMessage("フォルダを作れません: ", cardRoot.native(), ENOENT));
    }
    return *root;
}

void add(CleanResult& total, const CleanResult& first, const CleanResult& second) {
    total.removed = first.removed + second.removed;
    total.renamed = first.renamed + second.renamed;
    // The later run's names come first: they are the ones still failing.
    total.failed = second.failed;
    total.failed.insert(total.failed.end(), first.failed.begin(), first.failed.end());
}

}  // namespace

SendError::SendError(Kind kind, std::int64_t need, std::int64_t free)
    : kind_(kind),
      need_(need),
      free_(free),
      description_("SD カードの空きが足りません（必要 " + formatByteCount(need) + " / 空き " +
                   formatByteCount(free) + "）") {}

SendError SendError::notEnoughSpace(std::int64_t need, std::int64_t free) {
    return SendError(Kind::notEnoughSpace, need, free);
}

SendResult send(const std::vector<Album>& albums, const std::filesystem::path& cardRoot,
                const SendProgress& progress, std::stop_token stop) {
    return send(albums, cardRoot, progress, FreeSpace(freeBytes), std::move(stop));
}

SendResult send(const std::vector<Album>& albums, const std::filesystem::path& cardRoot,
                const SendProgress& progress, const FreeSpace& freeSpace, std::stop_token stop) {
    const PosixFS::Root card = cardRootOf(cardRoot);
    const CleanResult before = clean(cardRoot, stop);

    // Two names of one album that differ in the export but not on the card
    // would be written to one file, the second overwriting or "matching" the first.
    SendResult result;
    const std::set<std::string> shared = sharedCardPaths(albums);
    const auto collides = [&](const Album& album, const std::string& file) {
        return !shared.empty() && shared.contains(cardPathKey(album, file));
    };

    // Each album's card folder and file names, decided once against what the
    // card holds before anything is copied: another album's folder or file
    // is never written over nor merged into.
    std::vector<std::vector<std::optional<CardAlbumPlaces::Target>>> targets(albums.size());
    std::vector<std::vector<bool>> present(albums.size());
    // Each album's folder of other names, and where it goes.
    std::vector<std::optional<std::pair<std::string, std::string>>> moves(albums.size());
    std::int64_t need = 0;
    std::int64_t total = 0;
    try {
        CardAlbumPlaces places(card, albums, stop);
        for (std::size_t index = 0; index < albums.size(); ++index) {
            const Album& album = albums[index];
            if (album.files.empty()) continue;
            if (const std::optional<std::string> link = places.link(index)) {
                throw ConversionError(std::string(folderIsLinkMessage) +
                                      (cardRoot / *link).string());
            }
            if (const std::optional<std::string>& folder = places.folder(index)) {
                result.places.emplace(album.relativePath, *folder);
                if (std::optional<std::string> from = places.movedFrom(index)) {
                    moves[index].emplace(std::move(*from), *folder);
                }
            }
            for (const std::string& file : album.files) {
                std::optional<CardAlbumPlaces::Target> target;
                if (collides(album, file)) {
                    result.failed.push_back(album.relativePath + "/" + text::nfc(file));
                } else {
                    target = places.target(index, file);
                    if (!target) {
                        result.failed.push_back(album.relativePath + "/" + text::nfc(file));
                    }
                }
                targets[index].push_back(target);
                present[index].push_back(target && places.holdsCopy(index, file, *target));
                if (!target) continue;
                if (!present[index].back()) need += sizeOf(album.sourceDir / file);
                ++total;
            }
        }
    } catch (const Cancelled&) {
        // Stopped while a file was read: nothing is copied, and every file
        // is told as not sent.
        std::int64_t files = 0;
        for (const Album& album : albums) files += static_cast<std::int64_t>(album.files.size());
        if (progress) progress(0, files, "");
        SendResult stopped;
        stopped.clean = before;
        return stopped;
    }
    // No margin: a need equal to the room passes, and unreadable room
    // (the largest count) always does.
    if (const std::int64_t free = freeSpace(cardRoot); free < need) {
        throw SendError::notEnoughSpace(need, free);
    }

    std::int64_t done = 0;
    for (std::size_t index = 0; index < albums.size(); ++index) {
        const Album& album = albums[index];
        // Its folder takes the album's name before anything goes into it.
        if (moves[index] && !stop.stop_requested()) {
            moveOnCard(card, moves[index]->first, moves[index]->second);
        }
        for (std::size_t at = 0; at < album.files.size(); ++at) {
            const std::optional<CardAlbumPlaces::Target>& target = targets[index][at];
            if (!target) continue;
            if (stop.stop_requested()) break;
            const std::string& file = album.files[at];
            if (progress) progress(done, total, text::nfc(file));
            const std::filesystem::path source = album.sourceDir / file;
            const std::int64_t size = sizeOf(source);
            if (present[index][at]) {
                ++result.skipped;
            } else {
                moveEarlierCopy(card, *target);
                try {
                    PosixFS::copy(source, card, card.folder / target->relative, stop);
                } catch (const Cancelled&) {
                    // Stopped, and too large to be whole within the grace:
                    // its temporary file is gone, and it counts as not sent.
                    break;
                }
                ++result.copied;
                result.bytes += size;
            }
            ++done;
        }
    }
    if (progress) progress(done, total, "");

    add(result.clean, before, clean(cardRoot, stop));
    return result;
}

}  // namespace tarvik::SDCardTools
