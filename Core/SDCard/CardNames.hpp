// Names on a card whose unit reads Shift-JIS (CP932): the card form of one
// folder or file name, of a relative album path and of a relative file path,
// and the safe rename of an item already on a card. The naming functions are
// pure and never fail; the rename blocks on the file system and throws
// ConversionError. Any thread; two renames in one folder at once are not
// guarded against each other.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "Core/Naming/PosixFS.hpp"

namespace tarvik::SDCardTools {

// A folder name is mapped to CP932 and padded; a file name has its base
// mapped and keeps its extension exactly (letter case too), never padded.
std::string safeName(std::string_view name, bool isDir);

// The name without the ideographic spaces that pad a short folder name.
std::string_view withoutPadding(std::string_view name);

// Every component in its card folder form; empty components vanish, so
// "/Artist//Album/" and "Artist/Album" give the same text.
std::string cardRelativePath(std::string_view relativePath);

// The folder part in its card form; the file name stays as it is.
std::string cardFilePath(std::string_view relativeFilePath);

// Renames the item at `path` to the NFC form of `newName` in the same folder,
// through the hidden name ".tarvik-rename-" + UUID, so that a file system
// that ignores letter case still takes a change of case. Another item of the
// folder whose name equals the new one ignoring case and normalisation is a
// clash: "同じ名前のファイルがあります: " + newName, and nothing changes. When
// the final step fails the item goes back to its old name.
void renameOnCard(const std::filesystem::path& path, std::string_view newName);

// Moves the folder `from` to `to`, both below the card's root: within its
// folder by renameOnCard, so that a change of letter case alone is taken
// too; else into `to`'s folder, made as needed, and the folder it left is
// removed where that leaves it empty. Nothing may be at `to` yet. Throws
// ConversionError, or PosixFS::NoSpace where a folder finds no room; the
// folder stays where it was then.
void moveOnCard(const PosixFS::Root& card, const std::string& from, const std::string& to);

}  // namespace tarvik::SDCardTools
