#include "Core/Pipeline/LibraryScanner.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "Core/Platform/NameOrder.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/VolumeFacts.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

bool isHidden(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

// Every entry name of a folder, hidden ones included; an unlistable folder
// (missing, not a folder, no permission, an error part-way) gives nothing.
// Nothing where the folder could not be listed whole.
std::optional<std::vector<std::string>> listedNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    if (error) return std::nullopt;
    return names;
}

std::vector<std::string> listNames(const fs::path& folder) {
    return listedNames(folder).value_or(std::vector<std::string>{});
}

// Only regular files count as audio: a pipe or device named like a song would
// block whoever opens it.
enum class Kind { file, folder, other };

struct Entry {
    Kind kind;
    dev_t device;
    ino_t inode;
};

// Follows symbolic links, so a link counts as what it points to and a
// dangling link as absent.
std::optional<Entry> examine(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    const Kind kind = S_ISDIR(info.st_mode)   ? Kind::folder
                      : S_ISREG(info.st_mode) ? Kind::file
                                              : Kind::other;
    return Entry{kind, info.st_dev, info.st_ino};
}

struct Selection {
    std::set<std::string> artists;
    std::map<std::string, std::set<std::string>> albums;  // artist -> album names
};

Selection parse(const std::set<std::string>& entries) {
    Selection selection;
    std::set<std::string> wholeArtists;
    for (const std::string& raw : entries) {
        const std::string entry = text::nfcName(raw);
        const std::size_t slash = entry.find('/');
        if (slash == std::string::npos) {
            selection.artists.insert(entry);
            wholeArtists.insert(entry);
        } else {
            const std::string artist = entry.substr(0, slash);
            selection.artists.insert(artist);
            selection.albums[artist].insert(entry.substr(slash + 1));
        }
    }
    // A whole artist wins over single albums of the same artist.
    for (const std::string& artist : wholeArtists) selection.albums.erase(artist);
    return selection;
}

// File systems the kernel makes up as it is read: a link into one of them
// (to "/proc", "/sys", "/dev") would plan the system's own entries as songs,
// and reading some of them never ends.
bool isPseudoFileSystem(std::string_view type) {
    static const std::set<std::string_view> types{
        "proc",     "sysfs",     "devtmpfs",   "devpts",  "cgroup",      "cgroup2",
        "debugfs",  "tracefs",   "securityfs", "pstore",  "bpf",         "configfs",
        "efivarfs", "mqueue",    "hugetlbfs",  "autofs",  "binfmt_misc", "fusectl",
        "selinuxfs", "rpc_pipefs", "nsfs"};
    return types.contains(type);
}

class Walker {
public:
    Walker(const Selection& selection, std::stop_token stop)
        : selection_(selection), stop_(std::move(stop)) {}

    std::vector<fs::path> run(const fs::path& root) {
        if (const std::optional<Entry> top = examine(root); top && top->kind == Kind::folder) {
            rootDevice_ = top->device;
            markAncestors(root);
            walk(root, *top, 0, nullptr);
        }
        return std::move(found_);
    }

private:
    using Identity = std::pair<dev_t, ino_t>;

    // The folders above the music folder: a link to one of them ("/", the
    // home folder) holds the whole library again and the system disk around
    // it, so it is never entered.
    void markAncestors(const fs::path& root) {
        std::error_code error;
        fs::path folder = fs::canonical(root, error);
        if (error) return;
        while (folder.has_relative_path()) {
            folder = folder.parent_path();
            if (const std::optional<Entry> above = examine(folder)) {
                visited_.insert({above->device, above->inode});
            }
        }
    }

    // Whether the folder lies on a made-up file system. The mount table is
    // read only once a folder on another device than the music folder's
    // turns up, so that a library on one disk pays nothing for it.
    bool isPseudo(const Entry& folder) {
        if (folder.device == rootDevice_) return false;
        if (!pseudoDevices_) {
            pseudoDevices_.emplace();
            try {
                for (const MountEntry& mount :
                     parseMountInfo(readSmallFile("/proc/self/mountinfo", 1U << 22))) {
                    if (isPseudoFileSystem(mount.fileSystemType)) {
                        pseudoDevices_->insert(makedev(mount.major, mount.minor));
                    }
                }
            } catch (...) {
                // No mount table: the check below still finds nothing pseudo.
            }
        }
        return pseudoDevices_->contains(folder.device);
    }

    void walk(const fs::path& folder, const Entry& self, int depth, const std::string* artist) {
        // Links are followed, so a link back to a folder being walked would
        // descend for ever, and folders linked to each other many times
        // would be walked once per path, doubling with every level: each
        // real folder is walked once per scan, at its first place.
        if (stop_.stop_requested()) return;
        if (isPseudo(self)) return;
        if (!visited_.insert({self.device, self.inode}).second) return;

        std::vector<std::string> names = listNames(folder);
        std::sort(names.begin(), names.end(), text::NameLess());
        const auto artistAlbums =
            artist == nullptr ? selection_.albums.end() : selection_.albums.find(*artist);
        const bool artistHasAlbums = artistAlbums != selection_.albums.end();

        for (const std::string& name : names) {
            if (isHidden(name)) continue;
            const fs::path child = folder / name;
            const std::optional<Entry> entry = examine(child);
            if (!entry || entry->kind == Kind::other) continue;
            const std::string nfcName = text::nfcName(name);

            if (entry->kind == Kind::file) {
                const bool considered = depth == 0   ? selection_.artists.empty()
                                        : depth == 1 ? !artistHasAlbums
                                                     : true;
                if (considered && LibraryScanner::hasAudioExtension(name)) found_.push_back(child);
                continue;
            }

            if (LibraryScanner::skippedFolderNames().contains(name)) continue;
            if (depth == 0) {
                if (selection_.artists.empty() || selection_.artists.contains(nfcName)) {
                    walk(child, *entry, 1, &nfcName);
                }
            } else if (depth == 1) {
                if (!artistHasAlbums || artistAlbums->second.contains(nfcName)) {
                    walk(child, *entry, 2, artist);
                }
            } else {
                walk(child, *entry, depth + 1, artist);
            }
        }
    }

    const Selection& selection_;
    std::stop_token stop_;
    std::set<Identity> visited_;  // every folder walked so far, and those above the root
    dev_t rootDevice_ = 0;
    std::optional<std::set<dev_t>> pseudoDevices_;  // read on first need
    std::vector<fs::path> found_;
};

// The chosen path without a trailing "/", so its last component is its name.
fs::path withoutTrailingSlash(const fs::path& path) {
    if (!path.has_filename() && path.has_parent_path() && path != path.root_path()) {
        return path.parent_path();
    }
    return path;
}

}  // namespace

LibraryScanner::Level LibraryScanner::Level::artistFolder(fs::path root, std::string artist) {
    return {Kind::artist, std::move(root), std::move(artist), {}};
}

LibraryScanner::Level LibraryScanner::Level::albumFolder(fs::path root, std::string artist,
                                                         std::string album) {
    return {Kind::album, std::move(root), std::move(artist), std::move(album)};
}

const std::set<std::string>& LibraryScanner::audioExtensions() {
    static const std::set<std::string> extensions{"flac", "wav", "aiff", "aif", "mp3", "m4a"};
    return extensions;
}

const std::set<std::string>& LibraryScanner::skippedFolderNames() {
    static const std::set<std::string> names{"Twonky"};
    return names;
}

bool LibraryScanner::hasAudioExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    // Only ASCII letters can lower-case into an audio extension, so ASCII
    // folding decides the same as full lower-casing.
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return audioExtensions().contains(extension);
}

std::optional<std::vector<std::string>> LibraryScanner::subfolderNames() const {
    const std::optional<std::vector<std::string>> listed = listedNames(root);
    if (!listed) return std::nullopt;
    std::vector<std::string> names;
    for (const std::string& name : *listed) {
        if (isHidden(name) || skippedFolderNames().contains(name)) continue;
        const std::optional<Entry> entry = examine(root / name);
        if (entry && entry->kind == Kind::folder) names.push_back(text::nfcName(name));
    }
    // Names that read alike (two that are not UTF-8 read as U+FFFD) keep one
    // order by their bytes, from scan to scan.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int order = text::compareNames(a, b);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

std::vector<fs::path> LibraryScanner::audioFiles(const std::set<std::string>& selection,
                                                 std::stop_token stop) const {
    const Selection parsed = parse(selection);
    return Walker(parsed, std::move(stop)).run(root);
}

std::vector<fs::path> LibraryScanner::subfolders(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const std::string& name : listNames(folder)) {
        if (isHidden(name)) continue;
        const std::optional<Entry> entry = examine(folder / name);
        if (entry && entry->kind == Kind::folder) found.push_back(folder / name);
    }
    return found;
}

bool LibraryScanner::folderHasAudio(const fs::path& folder) {
    const std::vector<std::string> names = listNames(folder);
    return std::any_of(names.begin(), names.end(), [](const std::string& name) {
        return !isHidden(name) && hasAudioExtension(name);
    });
}

LibraryScanner::Level LibraryScanner::detectLevel(const fs::path& chosenPath) {
    const fs::path chosen = withoutTrailingSlash(chosenPath);
    const fs::path parent = chosen.parent_path();
    const std::string name = text::nfcName(chosen.filename().string());

    const std::vector<fs::path> folders = subfolders(chosen);
    if (folders.empty() && folderHasAudio(chosen)) {
        return Level::albumFolder(parent.parent_path(), text::nfcName(parent.filename().string()),
                                  name);
    }
    const auto withAudio = std::count_if(folders.begin(), folders.end(),
                                         [](const fs::path& f) { return folderHasAudio(f); });
    if (!folders.empty() && 2 * static_cast<std::size_t>(withAudio) > folders.size()) {
        return Level::artistFolder(parent, name);
    }
    return Level::library();
}

}  // namespace tarvik
