// The user's list of artist-name aliases: each entry turns one written form of
// a name into the form the card should show, and a name that differs from an
// entry only in spaces and letter case matches it too. A plain value: each run
// gets its own copy and may resolve names from several threads at once.
// Loading never fails (any problem gives the empty list, and read() says why);
// saving throws ConversionError and then leaves the earlier file as it was. A
// file that is there but cannot be read whole is never overwritten: a save
// first keeps it beside, under a name that says it is damaged. Two windows
// (two processes) may edit the one file: a save over what a window read
// writes only while the file is still what it read, and otherwise hands back
// the file read again, with the window's rows and the other's together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Naming/TrackMeta.hpp"

namespace tarvik {

struct ArtistAliases {
    struct Entry {
        std::string id;    // a fresh UUID for the editor's rows; never stored
        std::string from;  // the written form to replace
        std::string to;    // the written form to use

        Entry();
        Entry(std::string from, std::string to);

        // id, from and to equal; texts under canonical equivalence.
        bool operator==(const Entry& other) const;
    };

    static constexpr const char* fileName = "artist-aliases.json";

    // In order: the first matching entry wins.
    std::vector<Entry> entries;

    bool operator==(const ArtistAliases& other) const = default;

    // NFC, without U+0020 and U+3000 spaces, lower-cased (no locale).
    static std::string key(std::string_view text);

    // The `to` of the first entry whose `from` or `to` has the key of `name`;
    // entries with an empty `to` are passed over. Absent for a blank name.
    std::optional<std::string> resolve(std::string_view name) const;

    // The record with artist and album artist resolved, each on its own.
    TrackMeta apply(const TrackMeta& meta) const;

    struct Reading;
    // The list, and why the file that is there could not be read whole.
    static Reading read(const std::filesystem::path& url);
    // The list; empty for a missing or damaged file.
    static ArtistAliases load(const std::filesystem::path& url);
    // Creates the folder, keeps a damaged file beside, then replaces the file
    // atomically. Where the damaged file cannot be kept, nothing is written.
    void save(const std::filesystem::path& url) const;
    struct SaveOver;
    // Saves as save() does, but only while the file is still what `basis`
    // found there: its size, time and bytes (a missing file is missing
    // still). Otherwise nothing is written and the file is read again. Two
    // savers of one file (also in two processes) check and write one after
    // the other. Throws as save() does.
    SaveOver saveOver(const std::filesystem::path& url, const Reading& basis) const;
    // The rows to save after `base` was read, edited into `mine`, and the file
    // meanwhile became `theirs`: those of `mine` in its order, then each of
    // `theirs` that `mine` neither holds nor dropped from `base`, in its
    // order. Rows are the same by their texts under canonical equivalence.
    static ArtistAliases merged(const ArtistAliases& base, const ArtistAliases& mine,
                                const ArtistAliases& theirs);
    // Where a save keeps the damaged file `url` at `stamp` (a local time as
    // "20240501-093000"), the `copy`-th such file of that second:
    // "artist-aliases.damaged-20240501-093000.json", then "…-093000-2.json".
    static std::filesystem::path damagedName(const std::filesystem::path& url,
                                             std::string_view stamp, int copy = 1);

    // The earlier entry that already decides entry `index`'s `from` on export
    // (the first whose `from` or `to` has its key), where it names another
    // target: the entry at `index` would never be applied. Absent when the
    // entry is the first to decide its name, or agrees with the one that is.
    std::optional<std::size_t> decidedBefore(std::size_t index) const;

    // Groups of two or more NFC forms that share a key, each group in code
    // point order, the groups ordered by their first form.
    static std::vector<std::vector<std::string>> findVariants(
        const std::vector<std::string>& names);

private:
    // The first of the entries before `limit` that decides `name`.
    std::optional<std::size_t> firstMatch(std::string_view name, std::size_t limit) const;
};

struct ArtistAliases::Reading {
    ArtistAliases aliases;
    // Why the file could not be read whole ("JSON として読めません", "読めません:
    // artist-aliases.json（…）"); absent when it was, or is not there at all.
    std::optional<std::string> problem;

    // What the reading found at the file's place.
    struct Seen {
        std::uintmax_t size = 0;
        std::int64_t modified = 0;         // nanoseconds since 1970
        std::optional<std::string> bytes;  // absent where they could not be read whole
        bool operator==(const Seen&) const = default;
    };
    // Absent where there was no file.
    std::optional<Seen> seen;
};

struct ArtistAliases::SaveOver {
    bool saved = false;
    // Where nothing was saved: the file as it is now, and the rows to show
    // instead of the edited ones (merged() of the three).
    Reading now;
    ArtistAliases merged;
};

}  // namespace tarvik

// Consistent with equality: id, then the NFC forms of from and to.
template <>
struct std::hash<tarvik::ArtistAliases::Entry> {
    std::size_t operator()(const tarvik::ArtistAliases::Entry& entry) const;
};
