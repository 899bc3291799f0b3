#pragma once
// The keys of the selection (an artist folder's name, or "artist/album") are
// the folders' bytes, since names on Linux are bytes: a library copied from
// an older Shift-JIS system has names that are not UTF-8, and reading two of
// them as U+FFFD would make them one row and one stored tick. Here is how such
// a key is kept in the settings, which hold only text, and how a name is
// shown. Pure functions; any thread; never fail.
#include <string>

namespace tarvik::SelectionKeys {

// The text the settings keep for a key: the key itself when it is UTF-8;
// otherwise "/" (which no key begins with) and the key with every byte from
// 0x80 up, every control byte and "%" written as "%" and two upper-case hex
// digits.
std::string stored(const std::string& key);
// The key a stored text stands for: the reverse of `stored`.
std::string restored(const std::string& text);

// A name as a row shows it: itself when it is UTF-8; otherwise the text its
// bytes spell in code page 932 where they spell one, else the text with
// U+FFFD for each byte sequence that could not be read, marked unreadable.
struct Shown {
    std::string text;
    bool unreadable = false;

    bool operator==(const Shown&) const = default;
};
Shown shown(const std::string& name);

}  // namespace tarvik::SelectionKeys
