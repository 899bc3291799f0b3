// Carries out a reviewed tidy plan on the user's own library, item by item
// in plan order, tags first and move second, recording every change in a
// journal; and undoes a journal, last change first. Only the fields an item
// changes are written, a file that changed since planning is left alone, no
// move ever replaces a file, and paths from a plan or journal never leave
// the library. A value without state; apply and undo block the calling
// thread, report through the callback on that thread, and end with
// Cancelled when the stop token fires between two items.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <stop_token>
#include <string>

#include "Core/Tidy/TidyJournal.hpp"
#include "Core/Tidy/TidyPlan.hpp"

namespace tarvik {

struct TidyApplier {
    using Progress = std::function<void(const TidyEvent&)>;

    // The tag reader that compares a file with its plan; absent: the file's
    // own tags are read without ffmpeg.
    std::optional<std::filesystem::path> ffmpeg;

    // Throws when the journal can't be started or a line can't be recorded
    // (before the change it would record), and Cancelled.
    TidyResult apply(const TidyPlan& plan, const std::filesystem::path& journalDir, bool tagsOnly,
                     const Progress& progress, std::stop_token stop) const;

    // Throws ConversionError or DecodingError, before anything is touched,
    // for a journal it can't read whole, and Cancelled.
    TidyResult undo(const std::filesystem::path& journal, const Progress& progress,
                    std::stop_token stop) const;

    static std::filesystem::path journalURL(const std::filesystem::path& journalDir);

    // Moves without replacing anything: "移動先に同じ名前のファイルがあります: "
    // + name when the destination is taken by another file. A change of
    // letter case only goes through a ".tarvik-rename-" stopover.
    static void move(const std::filesystem::path& source, const std::filesystem::path& destination);

    // Makes the folders of `relative` (its last part is a file) below `root`,
    // going into an existing folder of the same name; on a file system that
    // ignores case, an existing folder in other letter case is renamed.
    static void ensureFolders(const std::filesystem::path& root, const std::string& relative,
                              bool ignoresCase);

    // Whether the file system of `folder` ignores letter case, judged by one
    // of its entries; false when it has none with letters.
    static bool ignoresCase(const std::filesystem::path& folder);

    // Removes the folders (and their parents below `root`) that hold nothing
    // or only ".DS_Store"; never `root`, never fails.
    static void removeEmptyFolders(const std::set<std::filesystem::path>& folders,
                                   const std::filesystem::path& root);

    // `root` joined with a "/"-separated path from a plan or journal, or
    // nothing when the path is absolute, has an empty, "." or ".." part, or
    // isn't valid UTF-8.
    static std::optional<std::filesystem::path> inside(const std::filesystem::path& root,
                                                       const std::string& relative);
};

}  // namespace tarvik
