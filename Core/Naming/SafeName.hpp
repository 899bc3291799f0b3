// Folder and file names that a card (or, with forMac, the user's own disk)
// can store and a unit can display, made from tag values under the naming
// limits of a device profile. Stateless and pure; the patterns and the CP932
// converter are set up once, so every function may run on any thread.
// Lengths count Unicode scalars; display widths count columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Core/Platform/Regex.hpp"

namespace tarvik::SafeName {

struct Rules {
    std::int64_t nameMax = 0;          // most scalars a name keeps; below 0 counts as 0
    bool asciiOnly = false;            // fold to ASCII
    bool forMac = false;               // the smaller forbidden set of the user's disk
    std::int64_t displayWidthMax = 0;  // most display columns; 0 or less: no limit
    bool forJIS = false;               // the unit reads CP932: keep only what CP932 holds

    bool operator==(const Rules&) const = default;
};

// Characters a card cannot hold: \ / : * ? " < > | and U+0000 to U+001F.
const Regex& windowsForbidden();
// Characters the user's disk cannot hold in a name: / : and U+0000 to U+001F.
const Regex& macForbidden();

// The longest name a file system takes: ext4 counts 255 bytes, exFAT and FAT
// 255 UTF-16 units. UTF-8 never needs fewer bytes than UTF-16 needs units, so
// a name within the byte limit is within both.
inline constexpr std::size_t fileSystemNameMax = 255;

// The safe name of a tag value; `fallback` stands in when nothing is left. The
// result never holds "/" or another forbidden character, is never empty, "."
// or "..", and fits the file-system limit, cut between grapheme clusters.
// When the limits cut a name to nothing the fallback is cut by the same
// rules, and "_" stands in when that too leaves nothing.
std::string make(std::string_view name, std::string_view fallback, const Rules& rules);

// The name as `make` cleans it before any limit or folding: markers, runs of
// white space and forbidden characters dealt with, spaces and full stops
// trimmed from both ends. Empty when nothing is left.
std::string clean(std::string_view name, bool forMac = false);

// `name` followed by `suffix` (an overflow number such as " 2"): the name is
// cut between grapheme clusters, its trailing spaces and full stops trimmed,
// until the whole keeps within the rules' name and display-width limits and,
// with `extension` (such as ".mp3") on top, within the file-system limit.
// A name cut to nothing is "_".
std::string withSuffix(std::string_view name, std::string_view suffix, const Rules& rules,
                       std::string_view extension = {});

// The longest prefix of whole grapheme clusters that, with `extension` after
// it, fits the file-system limit.
std::string cutToFileSystem(std::string_view name, std::string_view extension = {});

// Every scalar that CP932 cannot hold becomes "_"; a few symbols become their
// ASCII look-alikes. The result has as many scalars as the NFC text.
std::string mapForJIS(std::string_view text);

// Short non-ASCII names lengthened with ideographic spaces to 9 or 10 CP932
// bytes; anything else unchanged.
std::string padForJIS(std::string_view text);

// 1 for scalars below U+0100 and for half-width katakana, 2 for the rest.
std::int64_t displayWidth(char32_t scalar);
std::int64_t displayWidth(std::string_view text);
// The longest prefix of whole scalars whose display width is at most `maxWidth`.
std::string cutToDisplayWidth(std::string_view text, std::int64_t maxWidth);

bool isASCII(std::string_view text);

}  // namespace tarvik::SafeName
