#include "Core/SDCard/CardSending.hpp"

#include <cerrno>
#include <optional>
#include <set>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/ByteCountFormat.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {
namespace {

std::int64_t sizeOf(const std::filesystem::path& path) {
    const std::optional<std::uint64_t> size = PosixFS::size(path);
    return size ? static_cast<std::int64_t>(*size) : 0;
}

// The card's own folder is used byte for byte (a card mounted under a name in
// NFD is still that card); only the levels below it are matched by NFC form.
struct Placement {
    std::filesystem::path source;
    std::string relative;  // below the card root
};

Placement placementOf(const Album& album, const std::string& file) {
    return Placement{
        .source = album.sourceDir.native() + "/" + file,
        .relative = cardRelativePath(album.relativePath) + "/" + safeName(file, false),
    };
}

// The size of the card's copy, found under its own normal form; nothing when
// there is none.
std::optional<std::uint64_t> sizeOnCard(const PosixFS::Root& card, const Placement& placement) {
    const std::optional<PosixFS::Location> location = PosixFS::locate(card, placement.relative);
    if (!location || !location->exists()) return std::nullopt;
    return PosixFS::size(location->path);
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
    const CleanResult before = clean(cardRoot);

    // Two names that differ in the export but not on the card would be
    // written to one file, the second overwriting or "matching" the first.
    SendResult result;
    const std::set<std::string> shared = sharedCardPaths(albums);
    const auto collides = [&](const Album& album, const std::string& file) {
        return !shared.empty() && shared.contains(cardPathKey(album, file));
    };

    std::int64_t need = 0;
    std::int64_t total = 0;
    for (const Album& album : albums) {
        for (const std::string& file : album.files) {
            if (collides(album, file)) {
                result.failed.push_back(album.relativePath + "/" + text::nfc(file));
                continue;
            }
            const Placement placement = placementOf(album, file);
            const std::int64_t size = sizeOf(placement.source);
            const std::optional<std::uint64_t> onCard = sizeOnCard(card, placement);
            if (!onCard || static_cast<std::int64_t>(*onCard) != size) need += size;
            ++total;
        }
    }
    // No margin: a need equal to the room passes, and unreadable room
    // (the largest count) always does.
    if (const std::int64_t free = freeSpace(cardRoot); free < need) {
        throw SendError::notEnoughSpace(need, free);
    }

    std::int64_t done = 0;
    for (const Album& album : albums) {
        for (const std::string& file : album.files) {
            if (collides(album, file)) continue;
            if (stop.stop_requested()) break;
            if (progress) progress(done, total, text::nfc(file));
            const Placement placement = placementOf(album, file);
            const std::int64_t size = sizeOf(placement.source);
            const std::optional<std::uint64_t> onCard = sizeOnCard(card, placement);
            if (onCard && static_cast<std::int64_t>(*onCard) == size) {
                ++result.skipped;
            } else {
                PosixFS::copy(placement.source, card, card.folder / placement.relative);
                ++result.copied;
                result.bytes += size;
            }
            ++done;
        }
    }
    if (progress) progress(done, total, "");

    add(result.clean, before, clean(cardRoot));
    return result;
}

}  // namespace tarvik::SDCardTools
