// Where the tidy finds things below the library root: every level by the
// name the disk lists, no link followed, folders also under the other names
// the journals gave them; and the checks of paths from plans and journals.

#include "Core/Tidy/TidyPaths.hpp"

#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Tidy/TidyApplier.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// The longest name a message shows.
constexpr std::size_t shownNameBytes = 255;

std::optional<struct stat> facts(const fs::path& path) {
    struct stat found {};
    if (::lstat(path.c_str(), &found) != 0) return std::nullopt;
    return found;
}

[[noreturn]] void throughLink() {
    throw ConversionError(std::string(linkReason));
}

[[noreturn]] void cannotMake(const std::string& name, int error) {
    throw ConversionError(fileSystemMessage("フォルダを作れません: ", shownPath(name), error));
}

[[noreturn]] void unusable(const std::string& path) {
    throw ConversionError("使えないパスです: " + shownPath(path));
}

// The names to try for level `index`: its own first, then the others the
// journals gave that folder.
std::vector<std::string> candidates(const std::vector<std::string>& parts, std::size_t index,
                                    const RenamedFolders* renamed) {
    std::vector<std::string> names = {parts[index]};
    if (renamed == nullptr) return names;
    for (const std::string& other : renamed->namesOf(joinedLevels(parts, index + 1))) {
        if (std::find(names.begin(), names.end(), other) == names.end()) names.push_back(other);
    }
    return names;
}

// FAT, exFAT and NTFS (through FUSE, too) count a name's length in UTF-16
// units, and report that count as their limit; the others count bytes.
bool countsUTF16Units(const fs::path& root) {
    struct statfs facts {};
    if (::statfs(root.c_str(), &facts) != 0) return false;
    switch (static_cast<unsigned long>(facts.f_type)) {
        case 0x4d44:      // FAT
        case 0x2011BAB0:  // exFAT
        case 0x5346544e:  // NTFS
        case 0x7366746e:  // NTFS (ntfs3)
        case 0x65735546:  // FUSE: exFAT and NTFS drives, mostly
            return true;
        default:
            return false;
    }
}

enum class Kind { file, folder };

struct Walk {
    const std::vector<std::string>& parts;
    Kind kind;
    const RenamedFolders* renamed;
    bool anyNameLast;

    // Depth first: the first place that is there.
    std::optional<TidyApplier::Place> from(const fs::path& folder, const std::string& relative,
                                           std::size_t index) const {
        const bool last = index + 1 == parts.size();
        for (const std::string& candidate :
             candidates(parts, index, last && !anyNameLast ? nullptr : renamed)) {
            const std::optional<std::string> name = nameOnDisk(folder, candidate);
            if (!name) continue;
            const fs::path path = folder / *name;
            const auto found = facts(path);
            if (!found) continue;
            if (S_ISLNK(found->st_mode)) throughLink();
            const std::string below = relative.empty() ? *name : relative + "/" + *name;
            if (last) {
                if (kind == Kind::file ? S_ISREG(found->st_mode) : S_ISDIR(found->st_mode)) {
                    return TidyApplier::Place{path, below, parts.size()};
                }
                continue;
            }
            if (!S_ISDIR(found->st_mode)) continue;
            if (auto place = from(path, below, index + 1)) return place;
        }
        return std::nullopt;
    }
};

void collectFolders(const fs::path& folder, const std::vector<std::string>& parts,
                    std::size_t index, std::size_t count, const RenamedFolders& renamed,
                    std::set<fs::path>& found) {
    if (index == count) {
        found.insert(folder);
        return;
    }
    std::set<std::string> names;
    for (const std::string& candidate : candidates(parts, index, &renamed)) {
        if (auto name = nameOnDisk(folder, candidate)) names.insert(*name);
    }
    for (const std::string& name : names) {
        const auto there = facts(folder / name);
        if (there && S_ISDIR(there->st_mode)) {
            collectFolders(folder / name, parts, index + 1, count, renamed, found);
        }
    }
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

std::string joinedLevels(const std::vector<std::string>& levels, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) path += (i == 0 ? "" : "/") + levels[i];
    return path;
}

std::string shownPath(std::string_view path) {
    std::string shown;
    for (std::size_t start = 0, end; start <= path.size(); start = end + 1) {
        end = std::min(path.find('/', start), path.size());
        if (start > 0) shown += '/';
        shown += text::prefixBytes(path.substr(start, end - start), shownNameBytes);
    }
    // A NUL would end the message for whatever shows it.
    return text::replacing(shown, std::string_view("\0", 1), "\uFFFD");
}

std::string folded(std::string_view name) {
    return text::isValidUTF8(name) ? text::lower(text::nfc(name)) : std::string(name);
}

std::vector<std::string> listNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

std::optional<std::string> nameOnDisk(const fs::path& folder, const std::string& name) {
    const bool there = facts(folder / name).has_value();
    if (there && text::isValidUTF8(name)) {
        // A volume that ignores letter case answers for every spelling. Where
        // another spelling doesn't answer, this one is listed as it stands.
        std::string other = text::lower(name);
        if (other == name) other = text::upper(name);
        if (other == name || !facts(folder / other)) return name;
    } else if (there) {
        return name;
    }
    // Only the listing shows a name in another normal form; an ASCII name
    // has none.
    if (!there && text::isASCII(name)) return std::nullopt;
    const std::vector<std::string> names = listNames(folder);
    if (std::find(names.begin(), names.end(), name) != names.end()) return name;
    const std::string wanted = text::nfcName(name);
    for (const std::string& listed : names) {
        if (text::nfcName(listed) == wanted) return listed;
    }
    return std::nullopt;
}

void RenamedFolders::add(const std::vector<TidyJournalEntry>& lines) {
    for (const TidyJournalEntry& line : lines) {
        if (line.folder) add(line.source, line.target);
    }
}

void RenamedFolders::add(const std::string& source, const std::string& target) {
    const std::vector<std::string> from = pathLevels(source), to = pathLevels(target);
    if (from.empty() || to.empty()) return;
    std::vector<std::string>& names = names_[folded(joinedLevels(from, from.size()))];
    for (const std::string* name : {&from.back(), &to.back()}) {
        if (std::find(names.begin(), names.end(), *name) == names.end()) names.push_back(*name);
    }
}

const std::vector<std::string>& RenamedFolders::namesOf(const std::string& relative) const {
    static const std::vector<std::string> none;
    const std::vector<std::string> parts = pathLevels(relative);
    const auto found = names_.find(folded(joinedLevels(parts, parts.size())));
    return found == names_.end() ? none : found->second;
}

std::optional<TidyApplier::Place> TidyApplier::findFile(const fs::path& root,
                                                        const std::string& relative,
                                                        const RenamedFolders* renamed) {
    if (!inside(root, relative)) return std::nullopt;
    const std::vector<std::string> parts = pathLevels(relative);
    return Walk{parts, Kind::file, renamed, false}.from(root, {}, 0);
}

std::optional<fs::path> findFolder(const fs::path& root, const std::string& relative,
                                   const RenamedFolders* renamed, bool anyName) {
    if (!TidyApplier::inside(root, relative)) return std::nullopt;
    const std::vector<std::string> parts = pathLevels(relative);
    try {
        if (auto place = Walk{parts, Kind::folder, renamed, anyName}.from(root, {}, 0)) {
            return place->path;
        }
    } catch (const ConversionError&) {
        // A link on the way: no folder of the library.
    }
    return std::nullopt;
}

std::set<fs::path> foldersOf(const fs::path& root, const std::string& relative,
                             const RenamedFolders& renamed) {
    std::set<fs::path> found;
    if (!TidyApplier::inside(root, relative)) return found;
    const std::vector<std::string> parts = pathLevels(relative);
    collectFolders(root, parts, 0, parts.size() - 1, renamed, found);
    return found;
}

TidyApplier::Place TidyApplier::ensureFolders(const fs::path& root, const std::string& relative,
                                              bool make, NewName naming) {
    if (!inside(root, relative)) cannotMake(relative, EINVAL);
    const std::vector<std::string> parts = pathLevels(relative);
    Place place{root, {}, 0};
    bool allThere = true;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string& part = parts[i];
        // Own name first, then the same name in another normal form, then
        // in other letter case.
        std::optional<std::string> name = nameOnDisk(place.path, part);
        if (!name) {
            const std::string wanted = folded(part);
            for (const std::string& listed : listNames(place.path)) {
                if (folded(listed) == wanted) {
                    name = listed;
                    break;
                }
            }
        }
        const std::string chosen =
            name.value_or(naming == NewName::nfc ? text::nfcName(part) : part);
        place.path /= chosen;
        place.relative += (place.relative.empty() ? "" : "/") + chosen;
        if (const auto found = facts(place.path)) {
            if (S_ISLNK(found->st_mode)) throughLink();
            if (!S_ISDIR(found->st_mode)) cannotMake(chosen, ENOTDIR);
            if (allThere) ++place.found;
            continue;
        }
        allThere = false;
        if (!make) continue;
        if (::mkdir(place.path.c_str(), 0755) != 0) {
            const int error = errno;
            const auto found = facts(place.path);
            if (!(error == EEXIST && found && S_ISDIR(found->st_mode))) cannotMake(chosen, error);
        }
    }
    return place;
}

std::optional<fs::path> TidyApplier::inside(const fs::path& root, const std::string& relative) {
    if (relative.empty() || relative.front() == '/' || !text::isValidUTF8(relative) ||
        relative.find('\0') != std::string::npos) {
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

void TidyApplier::checkPath(const fs::path& root, const std::string& relative) {
    // The system would read a NUL as the end of the path: another file.
    if (relative.find('\0') != std::string::npos) unusable(relative);
    if (!inside(root, relative)) {
        throw ConversionError("ライブラリの外を指すパスです: " + shownPath(relative));
    }
    const long limit = ::pathconf(root.c_str(), _PC_NAME_MAX);
    const std::size_t longest = limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
    const bool units = countsUTF16Units(root);
    for (const std::string& part : pathLevels(relative)) {
        if ((units ? text::utf16Length(part) : part.size()) > longest) unusable(relative);
    }
}

}  // namespace tarvik
