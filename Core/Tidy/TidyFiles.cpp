// The careful file operations of the tidy: moves that never replace a file,
// folder chains matched against what the disk lists, files found without
// following a link, clean-up of emptied folders and of what a crash left,
// and the check that a path from a file stays inside the library.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"
#include "Core/Tidy/TidyRecovery.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void taken(const fs::path& destination) {
    throw ConversionError("移動先に同じ名前のファイルがあります: " +
                          destination.filename().string());
}

// rename(2) that fails with EEXIST instead of replacing. File systems
// without RENAME_NOREPLACE get a check first; the gap between check and
// rename is the best they allow.
int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void renameOrThrow(const fs::path& from, const fs::path& to) {
    if (const int error = renameNoReplace(from, to); error != 0) {
        if (error == EEXIST || error == ENOTEMPTY) taken(to);
        throw ConversionError(
            fileSystemMessage("名前を付けられません: ", to.filename().string(), error));
    }
}

std::vector<std::string> listNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

bool sameEntry(const fs::path& a, const fs::path& b) {
    struct stat first {
    }, second{};
    return ::lstat(a.c_str(), &first) == 0 && ::lstat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string folded(std::string_view name) {
    return text::isValidUTF8(name) ? text::lower(text::nfc(name)) : std::string(name);
}

[[noreturn]] void cannotMake(const std::string& name, int error) {
    throw ConversionError(fileSystemMessage("フォルダを作れません: ", name, error));
}

}  // namespace

std::vector<std::string> pathLevels(const std::string& path) {
    std::vector<std::string> parts;
    for (std::size_t start = 0, end; start <= path.size(); start = end + 1) {
        end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
    }
    return parts;
}

std::string TidyApplier::newStopover() {
    return ".tarvik-rename-" + makeUuid();
}

void TidyApplier::move(const fs::path& source, const fs::path& destination,
                       const std::optional<std::string>& stopover) {
    if (source == destination) return;
    // The journal's completion line follows: the new names must outlast a
    // power cut before it says they are there.
    const auto durable = [&] {
        TidyFileState::syncFolder(destination.parent_path());
        if (source.parent_path() != destination.parent_path()) {
            TidyFileState::syncFolder(source.parent_path());
        }
    };
    if (folded(source.string()) != folded(destination.string())) {
        renameOrThrow(source, destination);
        durable();
        return;
    }
    // Letter case or normal form only. Where they count, the destination
    // may be another file; where they don't, it is the source itself.
    struct stat existing {};
    if (::lstat(destination.c_str(), &existing) == 0 && !sameEntry(source, destination)) {
        taken(destination);
    }
    const fs::path hidden =
        source.parent_path() / stopover.value_or(newStopover());
    renameOrThrow(source, hidden);
    try {
        renameOrThrow(hidden, destination);
    } catch (...) {
        renameNoReplace(hidden, source);  // back under its own name
        throw;
    }
    durable();
}

std::optional<TidyApplier::Place> TidyApplier::findFile(const fs::path& root,
                                                        const std::string& relative) {
    if (!inside(root, relative)) return std::nullopt;
    const std::optional<PosixFS::Location> location = PosixFS::locate({root, 0}, relative);
    struct stat facts {};
    if (!location || !location->exists() || ::lstat(location->path.c_str(), &facts) != 0 ||
        !S_ISREG(facts.st_mode)) {
        return std::nullopt;
    }
    return Place{location->path, location->path.lexically_relative(root).generic_string()};
}

TidyApplier::Place TidyApplier::ensureFolders(const fs::path& root, const std::string& relative,
                                              bool make) {
    if (!inside(root, relative)) cannotMake(relative, EINVAL);
    const std::vector<std::string> parts = pathLevels(relative);
    Place place{root, {}};
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string& part = parts[i];
        // Own name first, then the same name in another normal form, then
        // in other letter case.
        const std::optional<PosixFS::Location> level = PosixFS::locate({place.path, 0}, part);
        std::optional<std::string> name;
        if (level && level->exists()) name = level->path.filename().string();
        if (!name) {
            const std::string wanted = folded(part);
            for (const std::string& listed : listNames(place.path)) {
                if (folded(listed) == wanted) {
                    name = listed;
                    break;
                }
            }
        }
        const std::string chosen = name.value_or(PosixFS::nfc(part).string());
        place.path /= chosen;
        place.relative += (place.relative.empty() ? "" : "/") + chosen;
        struct stat facts {};
        if (::lstat(place.path.c_str(), &facts) == 0) {
            if (S_ISDIR(facts.st_mode)) continue;
            cannotMake(chosen, S_ISLNK(facts.st_mode) ? ELOOP : ENOTDIR);
        }
        if (!make) continue;
        if (::mkdir(place.path.c_str(), 0755) != 0 &&
            !(errno == EEXIST && ::lstat(place.path.c_str(), &facts) == 0 &&
              S_ISDIR(facts.st_mode))) {
            cannotMake(chosen, errno);
        }
    }
    return place;
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

std::optional<fs::path> TidyApplier::inside(const fs::path& root, const std::string& relative) {
    if (relative.empty() || relative.front() == '/' || !text::isValidUTF8(relative)) {
        return std::nullopt;
    }
    for (std::size_t start = 0, end; start <= relative.size(); start = end + 1) {
        end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        const std::string_view part = std::string_view(relative).substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return std::nullopt;
    }
    return root / relative;
}

void TidyApplier::sweep(const fs::path& folder, const Progress& progress) {
    for (const std::string& name : listNames(folder)) {
        if (!name.starts_with(".tarvik-")) continue;
        const fs::path path = folder / name;
        struct stat facts {};
        if (::lstat(path.c_str(), &facts) != 0) continue;
        // A stopover first: the song it holds may end in anything, ".part" too.
        if (name.starts_with(".tarvik-rename-")) {
            const fs::path visible = folder / name.substr(1);
            if (renameNoReplace(path, visible) == 0 && progress) {
                progress({TidyEvent::Notice{
                    "元の名前が分からないファイルを見えるようにしました: " + visible.string()}});
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
