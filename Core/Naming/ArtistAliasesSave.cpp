// Saving the alias file over what one window read, while another window (or
// another copy of the program) may save it too. The check and the write are
// made under a lock on the file's folder that every such save takes, so that
// no save falls between another's check and its write.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <set>
#include <utility>

#include "Core/Naming/ArtistAliases.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Sleep.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

// Holds the lock on a folder for as long as it lives. Another save holds it
// for a read and a write of a small file; one that holds it longer is stuck,
// and this save fails rather than wait on. A folder that takes no lock (a
// file system without them) is saved to without one, as before there were two
// windows.
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& folder)
        : descriptor_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (descriptor_ < 0) return;  // the save itself says why it cannot write there
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0) return;
            if (errno != EWOULDBLOCK && errno != EINTR) return;
            sleepFor(std::chrono::milliseconds(10), {});
        }
        ::close(descriptor_);
        throw ConversionError("書き込めません: " + folder.string() +
                              "（ほかのウィンドウが保存を終えません）");
    }
    ~FolderLock() {
        if (descriptor_ >= 0) ::close(descriptor_);  // closing lets the lock go
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int descriptor_;
};

using Pair = std::pair<std::string, std::string>;

std::set<Pair> pairs(const ArtistAliases& aliases) {
    std::set<Pair> result;
    for (const auto& entry : aliases.entries)
        result.emplace(text::nfc(entry.from), text::nfc(entry.to));
    return result;
}

}  // namespace

ArtistAliases::SaveOver ArtistAliases::saveOver(const std::filesystem::path& url,
                                                const Reading& basis) const {
    const std::filesystem::path folder = url.has_parent_path() ? url.parent_path() : ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);  // a failure is save()'s to tell
    const FolderLock lock(folder);
    Reading now = read(url);
    if (now.seen == basis.seen) {
        save(url);
        return {true, {}, {}};
    }
    ArtistAliases rows = merged(basis.aliases, *this, now.aliases);
    return {false, std::move(now), std::move(rows)};
}

ArtistAliases ArtistAliases::merged(const ArtistAliases& base, const ArtistAliases& mine,
                                    const ArtistAliases& theirs) {
    ArtistAliases result = mine;
    std::set<Pair> known = pairs(mine);
    known.merge(pairs(base));  // what mine dropped from base, it dropped on purpose
    for (const Entry& entry : theirs.entries) {
        if (known.emplace(text::nfc(entry.from), text::nfc(entry.to)).second)
            result.entries.emplace_back(entry.from, entry.to);
    }
    return result;
}

}  // namespace tarvik
