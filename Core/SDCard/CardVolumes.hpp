// The ground of the card tools: which mounted volume is a card this program
// writes to, how much room it has, and the two ways of listing folders that
// cleaning, album listing, sending and the export build on. Nothing here
// throws: a failure is a plain answer (false, an empty list, or the largest
// 64-bit count for free space that can't be read). Stateless; any thread.
//
// Names are kept as the directory listing returns them, bytes and all: a
// name that is not valid UTF-8 or not in NFC still reaches its file. Names
// are put in NFC only where they are compared.
#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Core/Platform/VolumeFacts.hpp"

namespace tarvik::SDCardTools {

// One item found by `walk`.
struct Entry {
    std::filesystem::path path;  // the folder's path + "/" + name, as plain text
    std::string name;            // exactly as listed
    bool isDir = false;          // a folder itself; links are not followed

    bool operator==(const Entry&) const = default;
};

// The file-system names a card may have, in the form VolumeFacts gives them.
inline constexpr std::string_view cardFileSystems[] = {"msdos", "exfat"};

// Free space that can't be read: callers take it as ample room.
inline constexpr std::int64_t unknownFreeBytes = std::numeric_limits<std::int64_t>::max();

// The text after the last "." of a name, empty when there is none, when the
// only "." starts the name (".DS_Store") or when nothing follows it ("a.").
std::string pathExtension(std::string_view name);

// Whether the lower-cased extension is one of "mp3", "m4a", "wma", "aac".
bool isCardAudioFile(std::string_view name);

// A removable volume, not the root file system, formatted FAT or exFAT.
bool isCardVolume(const std::filesystem::path& path,
                  const VolumeFacts& facts = systemVolumeFacts());

// Bytes an unprivileged writer may still use on the volume holding `path`.
std::int64_t freeBytes(const std::filesystem::path& path);

// The names in one folder, in the order the directory yields them, without
// "." and "..". Empty for a missing folder or a file.
std::vector<std::string> listNames(const std::filesystem::path& folder);

// What a listed name is; links are not followed.
enum class EntryKind { file, folder, link, other };

// The same names with their kinds, as the listing gives them (a card through
// FUSE answers every lstat with a round trip); lstat only where it says nothing.
std::vector<std::pair<std::string, EntryKind>> listKinds(const std::filesystem::path& folder);

// Every item below `root`, descending into folders whose names do not begin
// with "." (those are neither listed nor entered). An explicit stack, so depth
// is not bounded by the call stack; each folder is read whole and closed
// before its items are examined. A stop ends it between two folders, with
// what was found so far.
std::vector<Entry> walk(const std::filesystem::path& root, std::stop_token stop = {});

// The path without its last component ("a/b" -> "a", "/a" -> "/", "a" -> "").
std::string parentPath(std::string_view path);
// The last component, trailing "/" ignored; "/" for the root.
std::string lastComponent(std::string_view path);
// The components between the "/"s, empty ones dropped.
std::vector<std::string_view> components(std::string_view path);
// `name` in the relative folder `folder`; `name` alone in the root ("").
std::string joined(const std::string& folder, std::string_view name);

}  // namespace tarvik::SDCardTools
