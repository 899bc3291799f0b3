// An in-place commit names its finished content ".tarvik-swap-" + the
// identity of the file it replaces, its own size and its SHA-256 digest
// (within 143 bytes, what encrypted home folders allow a name), then
// exchanges it with that file; a kill before the end leaves that name
// behind, holding the new content or what the exchange took out. `settle`
// puts such a leftover right and says what it held: the file as it was read
// (its edit went through; removed), the new content that never took the
// file's place (removed; known by its digest, also where the volume was
// mounted again and numbers its files anew), or a save another program
// made at the last moment, exchanged back with the new content (removed
// then) where that is still beside it, else left for the caller to show.
// Never fails; nothing for another name. Names of older versions, which
// say the new content's identity too and a digest or none, are still read.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Platform/FileIdentity.hpp"

namespace tarvik {

namespace InPlaceLeftover {
inline constexpr std::string_view prefix = ".tarvik-swap-";
enum class Held { replaced, unplaced, putBack, anotherSave };
std::optional<Held> settle(const std::filesystem::path& leftover);
// The leftover name for `ours`, taking the place of `replaced`.
std::string name(const FileIdentity& ours, const FileIdentity& replaced, const NewContent& content);
// The new content a leftover's name says its commit was putting in place;
// nothing for a name without a digest or not of this kind.
std::optional<NewContent> contentNamedBy(std::string_view name);
}  // namespace InPlaceLeftover

}  // namespace tarvik
