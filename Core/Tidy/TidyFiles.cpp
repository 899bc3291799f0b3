// The careful file operations of the tidy: moves that never replace a file,
// judged by the names a folder lists; clean-up of emptied folders and of
// what a crash left.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/InPlaceLeftover.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"
#include "Core/Tidy/TidyRecovery.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// rename(2) that fails with EEXIST instead of replacing. File systems
// without RENAME_NOREPLACE (FUSE ones among them) get a check first; the
// gap between check and rename is the best they allow.
int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void renameOrThrow(const fs::path& from, const fs::path& to) {
    if (const int error = renameNoReplace(from, to); error != 0) {
        if (error == EEXIST || error == ENOTEMPTY) destinationTaken(to);
        throw ConversionError(
            fileSystemMessage("名前を付けられません: ", shownPath(to.filename().string()), error));
    }
}

}  // namespace

void destinationTaken(const fs::path& destination) {
    throw ConversionError("移動先に同じ名前のファイルがあります: " +
                          shownPath(destination.filename().string()));
}

std::string TidyApplier::newStopover() {
    return ".tarvik-rename-" + makeUuid();
}

bool TidyApplier::isTaken(const fs::path& source, const fs::path& destination) {
    const fs::path folder = destination.parent_path();
    const std::string name = destination.filename().string();
    const bool sameFolder = source.parent_path() == folder;
    if (const std::optional<std::string> listed = nameOnDisk(folder, name)) {
        return !(sameFolder && *listed == source.filename().string());
    }
    struct stat existing {};
    if (::lstat(destination.c_str(), &existing) != 0) return false;
    // Not listed, yet answered: a volume that ignores letter case answers
    // with the file listed in other letter case, the source itself when the
    // move changes only that.
    return !(sameFolder && folded(source.filename().string()) == folded(name));
}

void TidyApplier::move(const fs::path& source, const fs::path& destination,
                       const std::optional<std::string>& stopover) {
    if (source == destination) return;
    if (isTaken(source, destination)) destinationTaken(destination);
    // The journal's completion line follows: the new names must outlast a
    // power cut before it says they are there.
    const auto durable = [&] {
        syncFolder(destination.parent_path());
        if (source.parent_path() != destination.parent_path()) {
            syncFolder(source.parent_path());
        }
    };
    if (folded(source.string()) != folded(destination.string())) {
        renameOrThrow(source, destination);
        durable();
        return;
    }
    // Letter case or normal form only: a volume that ignores them would
    // take the rename for one onto the file itself and change nothing.
    const fs::path hidden = source.parent_path() / stopover.value_or(newStopover());
    renameOrThrow(source, hidden);
    try {
        renameOrThrow(hidden, destination);
    } catch (...) {
        renameNoReplace(hidden, source);  // back under its own name
        throw;
    }
    durable();
}

void TidyApplier::removeEmptyFolders(const std::set<fs::path>& folders, const fs::path& root) {
    const std::string boundary = root.lexically_normal().string() + "/";
    std::set<std::string> candidates;
    for (const fs::path& folder : folders) {
        for (fs::path at = folder.lexically_normal(); at.string().starts_with(boundary);
             at = at.parent_path()) {
            std::string path = at.string();
            while (path.size() > 1 && path.back() == '/') path.pop_back();
            if (path + "/" == boundary) break;
            candidates.insert(path);
            if (at == at.parent_path()) break;
        }
    }
    std::vector<std::string> ordered(candidates.begin(), candidates.end());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const std::string& a, const std::string& b) {
                         return text::graphemeCount(a) > text::graphemeCount(b);
                     });
    for (const std::string& folder : ordered) {
        // A link in the way would lead outside: every level must be a folder.
        const std::string below = folder.substr(boundary.size());
        const std::optional<PosixFS::Location> location = PosixFS::locate({root, 0}, below);
        struct stat facts {};
        if (!location || !location->exists() || location->path.string() != folder ||
            ::lstat(folder.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode)) {
            continue;
        }
        const std::vector<std::string> names = listNames(folder);
        if (names.size() > 1 || (names.size() == 1 && names.front() != ".DS_Store")) continue;
        if (!names.empty()) ::unlink((fs::path(folder) / ".DS_Store").c_str());
        ::rmdir(folder.c_str());
    }
}

void TidyApplier::sweep(const fs::path& folder, const Progress& progress) {
    for (const std::string& name : listNames(folder)) {
        if (!name.starts_with(".tarvik-")) continue;
        const fs::path path = folder / name;
        struct stat facts {};
        if (::lstat(path.c_str(), &facts) != 0) continue;
        const auto makeVisible = [&] {
            const fs::path visible = folder / name.substr(1);
            if (renameNoReplace(path, visible) == 0 && progress) {
                progress({TidyEvent::Notice{"元の名前が分からないファイルを見えるようにしました: " +
                                            visible.string()}});
            }
        };
        // A stopover first: the song it holds may end in anything, ".part" too.
        if (name.starts_with(".tarvik-rename-")) {
            makeVisible();
        } else if (name.starts_with(InPlaceLeftover::prefix)) {
            if (settleInPlaceLeftover(path, progress) == InPlaceLeftover::Held::anotherSave) {
                makeVisible();
            }
        } else if ((name.starts_with(".tarvik-tmp-") || name.ends_with(".part")) &&
                   S_ISREG(facts.st_mode)) {
            if (::unlink(path.c_str()) == 0 && progress) {
                progress({TidyEvent::Notice{"書きかけのファイルを消しました: " + path.string()}});
            }
        }
    }
}

}  // namespace tarvik
