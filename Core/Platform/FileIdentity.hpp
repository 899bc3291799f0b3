// What a file is, told apart from what replaced it: its identity as the
// system gives it (device, inode, size, modification time), and the new
// content an in-place commit puts in its place, known by its bytes. Plain
// values; any thread. Defined beside the file streams that take them.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tarvik {

// Which file a path held, and as what: another file renamed into its place,
// or the same file written to, compares unequal.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since 1970

    static FileIdentity of(const struct stat& facts);
    // Of the regular file at `path`, links not followed; nothing for
    // anything else.
    static std::optional<FileIdentity> at(const std::filesystem::path& path);
    bool operator==(const FileIdentity&) const = default;
};

// What an in-place commit puts in a file's place, known by its bytes: the
// size and SHA-256 digest of the finished content, and its modification
// time then (for a record; a volume mounted again may tell it otherwise).
// Unlike an inode number, it means the same after a mount.
struct NewContent {
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since 1970
    std::string sha256;         // 64 lowercase hexadecimal digits

    // Whether the regular file at `path` (a link not followed) holds
    // exactly this content; false where it can't be read.
    bool isIn(const std::filesystem::path& path) const;
    bool operator==(const NewContent&) const = default;
};

}  // namespace tarvik
