// Where the tidy finds things below the library root: the levels of a
// path, names as the disk lists them, folders also under the other names
// the journals gave them when they renamed them as a whole. Internal to the
// tidy; any thread.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Tidy/TidyJournal.hpp"

namespace tarvik {

// The names journals gave folders renamed as a whole. Such a rename changes
// letter case or normal form only, so a folder is known by its path in
// lower case NFC whatever name it has now; a path recorded under one name
// is found under the other, whichever an interrupted run left.
class RenamedFolders {
public:
    // Takes the folder entries among `lines`.
    void add(const std::vector<TidyJournalEntry>& lines);
    void add(const std::string& source, const std::string& target);
    // The names (last level) known for the folder at `relative`; empty when
    // no journal renamed it.
    const std::vector<std::string>& namesOf(const std::string& relative) const;

private:
    std::map<std::string, std::vector<std::string>> names_;  // folded path -> names
};

// The levels of a "/"-separated path, empty ones dropped.
std::vector<std::string> pathLevels(const std::string& path);
// The first `count` levels, "/"-separated.
std::string joinedLevels(const std::vector<std::string>& levels, std::size_t count);

// Lower case NFC: where names that differ only in letter case or normal
// form meet. Bytes that are not UTF-8 stay as they are.
std::string folded(std::string_view name);

// The names `folder` lists ("." and ".." left out); none when it can't be read.
std::vector<std::string> listNames(const std::filesystem::path& folder);

// The name under which `name` is listed in `folder`: itself, else one that
// is the same in NFC; never one in other letter case, although a volume
// that ignores letter case answers lstat for it too.
std::optional<std::string> nameOnDisk(const std::filesystem::path& folder, const std::string& name);

// `path` with each name cut to 255 bytes, for a message: a name from a
// plan or journal may be of any length.
std::string shownPath(std::string_view path);

// The real folder at `relative` below `root`, levels matched as the disk
// names them, none a link; folders above the last also under the other
// names `renamed` knows, the last too when `anyName`.
std::optional<std::filesystem::path> findFolder(const std::filesystem::path& root,
                                                const std::string& relative,
                                                const RenamedFolders* renamed = nullptr,
                                                bool anyName = false);

// Every real folder that holds `relative` (a file's or a folder's path)
// now: each level under its own name and under each name `renamed` knows
// for it. Never fails.
std::set<std::filesystem::path> foldersOf(const std::filesystem::path& root,
                                          const std::string& relative,
                                          const RenamedFolders& renamed);

}  // namespace tarvik
