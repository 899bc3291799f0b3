// The small file layer that everything bound for a card goes through: path
// queries, folder creation, renames and copies that land under a hidden
// temporary name first. Stateless; every operation blocks the calling thread
// and may run on any thread. A full volume raises PosixFS::NoSpace; every
// other failure a ConversionError naming the file and the system's reason.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

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
// Throws "フォルダを作れません: " + the first folder that could not be made.
void makeDirs(const std::filesystem::path& path);

// Moves `source` onto the NFC form of `target`, replacing a file there.
// Throws "名前を付けられません: " + the target's last component.
void rename(const std::filesystem::path& source, const std::filesystem::path& target);

// Copies the file's data (nothing else) to the NFC form of `target`, making
// its folders: first into ".tarvik-" + UUID + ".part" beside the target,
// flushed to the disk, then renamed into place, so the target is never
// half-written. Throws NoSpace, or "書き込めません: " + the target's last
// component; the temporary file is removed on every failure.
void copy(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace tarvik::PosixFS
