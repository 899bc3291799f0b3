// The user's list of artist-name aliases: each entry turns one written form of
// a name into the form the card should show, and a name that differs from an
// entry only in spaces and letter case matches it too. A plain value: each run
// gets its own copy and may resolve names from several threads at once.
// Loading never fails (any problem gives the empty list); saving throws
// ConversionError and then leaves the earlier file as it was.
#pragma once

#include <cstddef>
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

    static ArtistAliases load(const std::filesystem::path& url);
    // Creates the folder, then replaces the file atomically.
    void save(const std::filesystem::path& url) const;

    // Groups of two or more NFC forms that share a key, each group in code
    // point order, the groups ordered by their first form.
    static std::vector<std::vector<std::string>> findVariants(
        const std::vector<std::string>& names);
};

}  // namespace tarvik

// Consistent with equality: id, then the NFC forms of from and to.
template <>
struct std::hash<tarvik::ArtistAliases::Entry> {
    std::size_t operator()(const tarvik::ArtistAliases::Entry& entry) const;
};
