// The small file layer that everything bound for a card goes through: path
// queries, folder creation, renames and copies that land under a hidden
// temporary name first. Stateless; every operation blocks the calling thread
// and may run on any thread. A full volume raises PosixFS::NoSpace; every
// other failure a ConversionError naming the file and the system's reason.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace tarvik::PosixFS {

// The target volume is full (ENOSPC); the export treats this as a full card.
class NoSpace : public std::exception {
public:
    const char* what() const noexcept override;
    std::string description() const { return what(); }
};

// The path in Unicode NFC. A name that is not valid UTF-8 is returned as it
// is: Linux names are bytes, and replacing them would name another file.
std::filesystem::path nfc(const std::filesystem::path& path);

// Queries on the path as given, without following a final link.
bool exists(const std::filesystem::path& path);
bool isDirectory(const std::filesystem::path& path);
std::optional<std::uint64_t> size(const std::filesystem::path& path);

// Unlinks the file; failures are ignored.
void remove(const std::filesystem::path& path);

// Creates the folder (NFC) and every missing folder above it, mode 0755.
// Throws NoSpace on a full volume, else "フォルダを作れません: " + the first
// folder that could not be made.
void makeDirs(const std::filesystem::path& path);

// Moves `source` onto the NFC form of `target`, replacing a file there.
// Throws "名前を付けられません: " + the target's last component.
void rename(const std::filesystem::path& source, const std::filesystem::path& target);

// Copies the file's data (nothing else) to the NFC form of `target`, making
// its folders: first into ".tarvik-" + UUID + ".part" beside the target,
// flushed to the disk, then renamed into place, so the target is never
// half-written. Throws NoSpace (also for a folder that can't be made for
// want of room), or "書き込めません: " + the target's last component; the
// temporary file is removed on every failure.
void copy(const std::filesystem::path& source, const std::filesystem::path& target);

// Whether a name is one this layer writes under before moving a file into
// place: ".tarvik-" + a UUID in its canonical 8-4-4-4-12 form + ".part".
bool isTemporaryName(std::string_view name);

// A temporary file (isTemporaryName) that nobody is writing: what a copy cut
// short by a kill or a quit left behind. A copy under way holds its
// temporary's lock (flock), which every process on the machine sees, from
// before anyone may look until the file has its final name. A look only:
// what is removed goes through removeLeftover.
bool isLeftover(const std::filesystem::path& file);

// Removes the file when it is a leftover, holding its lock while it does, so
// that a copy that has just created it (and not yet taken the lock) finds
// the name gone and writes under another; whether it was removed.
bool removeLeftover(const std::filesystem::path& file);

// A folder the user chose to write into. Its path is used byte for byte (a
// card mounted under a name in NFD is still that card), it is never made,
// and it counts only while it is a folder on the device it was on when it was
// taken: a pulled card leaves its empty mount folder on the system disk.
struct Root {
    std::filesystem::path folder;
    std::uint64_t device = 0;

    bool operator==(const Root&) const = default;
};

// The folder as a root now (a link the user chose is followed); nothing when
// it is no folder.
std::optional<Root> rootAt(const std::filesystem::path& folder);

// Whether the root's folder is still a folder on the same device.
bool isPresent(const Root& root);

// Where a relative path lies below a root.
struct Location {
    std::filesystem::path path;  // levels found keep their own names, the rest are in NFC
    std::size_t found = 0;       // leading levels already there
    std::size_t levels = 0;      // levels of the relative path

    bool exists() const { return found == levels; }
};

// Finds `relative` below the root, changing nothing. Each level is matched
// by its own name, else by NFC form among the names its folder lists, so a
// folder or file that another computer wrote in NFD is found again. Nothing
// when the path is absolute or has a "." or ".." level, or when a level above
// the last is a link or no folder.
std::optional<Location> locate(const Root& root, std::string_view relative);

// Whether `path`, the root's folder joined with a relative path, is still
// there and found by `locate` as it stands: no link has taken the place of a
// folder on the way since it was written.
bool reaches(const Root& root, const std::filesystem::path& path);

// Makes the folders of `relative` below the root as `locate` finds them, the
// new ones in NFC with mode 0755, and returns the real folder. Throws NoSpace
// on a full volume, else "フォルダを作れません: " + the folder concerned when
// the root is gone or on another device, a level is a link or no folder, or a
// folder can't be made.
std::filesystem::path makeDirs(const Root& root, std::string_view relative);

// Copies as `copy(source, target)` does, to `target` = the root's folder
// joined with a relative path, whose folders `makeDirs(root, …)` makes; a
// file there under another normal form is replaced. Returns the file's path.
// A stop lets the file under way finish if it can within `stopGrace`, its
// data on the disk; else its temporary file is removed and Cancelled thrown,
// the target untouched.
inline constexpr std::chrono::milliseconds stopGrace{500};
std::filesystem::path copy(const std::filesystem::path& source, const Root& root,
                           const std::filesystem::path& target, std::stop_token stop = {});

}  // namespace tarvik::PosixFS
