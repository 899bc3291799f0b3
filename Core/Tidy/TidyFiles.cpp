// The careful file operations of the tidy: moves that never replace a file,
// folder chains in the plan's letter case, clean-up of emptied folders, and
// the check that a path from a file stays inside the library.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Tidy/TidyApplier.hpp"

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

std::string swappedCase(const std::string& name) {
    std::string swapped = name;
    for (char& c : swapped) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return swapped;
}

}  // namespace

void TidyApplier::move(const fs::path& source, const fs::path& destination) {
    if (source == destination) return;
    if (text::lower(text::nfc(source.string())) != text::lower(text::nfc(destination.string()))) {
        renameOrThrow(source, destination);
        return;
    }
    // Letter case only. Where case counts, the destination may be another
    // file; where it doesn't, it is the source itself.
    struct stat existing {};
    if (::lstat(destination.c_str(), &existing) == 0 && !sameEntry(source, destination)) {
        taken(destination);
    }
    const fs::path stopover = source.parent_path() / (".tarvik-rename-" + makeUuid());
    renameOrThrow(source, stopover);
    try {
        renameOrThrow(stopover, destination);
    } catch (...) {
        renameNoReplace(stopover, source);  // back under its own name
        throw;
    }
}

bool TidyApplier::ignoresCase(const fs::path& folder) {
    std::vector<fs::path> probes;
    for (const std::string& name : listNames(folder)) probes.push_back(folder / name);
    probes.push_back(folder);
    for (const fs::path& probe : probes) {
        const std::string name = probe.filename().string();
        const std::string swapped = swappedCase(name);
        if (swapped == name) continue;
        return sameEntry(probe, probe.parent_path() / swapped);
    }
    return false;
}

void TidyApplier::ensureFolders(const fs::path& root, const std::string& relative,
                                bool ignoresCase) {
    std::vector<std::string> parts;
    for (std::size_t start = 0, end; start <= relative.size(); start = end + 1) {
        end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        if (end > start) parts.push_back(relative.substr(start, end - start));
    }
    if (parts.size() < 2) return;
    fs::path current = root;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string& part = parts[i];
        const std::vector<std::string> names = listNames(current);
        // Canonically equal is the same folder: a second one that looks the
        // same would split the album.
        auto found = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
            return text::equivalent(name, part);
        });
        if (found != names.end()) {
            current /= *found;
            continue;
        }
        if (ignoresCase) {
            const std::string folded = text::lower(text::nfc(part));
            found = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
                return text::lower(text::nfc(name)) == folded;
            });
            if (found != names.end()) {
                move(current / *found, current / part);
                current /= part;
                continue;
            }
        }
        current /= part;
        if (::mkdir(current.c_str(), 0755) != 0 &&
            !(errno == EEXIST && fs::is_directory(current))) {
            throw ConversionError(fileSystemMessage("フォルダを作れません: ", part, errno));
        }
    }
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
        std::error_code error;
        fs::directory_iterator it(folder, error);
        if (error) continue;
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

}  // namespace tarvik
