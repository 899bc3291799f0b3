// Carries out a reviewed tidy plan on the user's own library, item by item
// in plan order, tags first and move second, recording every change in a
// journal; and undoes a journal, last change first. Only the fields an item
// changes are written, a file that changed since planning is left alone, no
// move ever replaces a file, and paths from a plan or journal never leave
// the library. A value without state; apply and undo block the calling
// thread, hold the journal folder's TidyLock throughout (a second run on
// the library refuses), report through the callback on that thread, and
// end with Cancelled when the stop token fires between two items.
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

class RenamedFolders;

struct TidyApplier {
    using Progress = std::function<void(const TidyEvent&)>;

    // The tag reader that compares a file with its plan; absent: the file's
    // own tags are read without ffmpeg.
    std::optional<std::filesystem::path> ffmpeg;
    // How an item's journal line is made (TidyJournalEntry::line). Tests put
    // in one that throws JournalError, as a line that can't be encoded does.
    std::function<std::string(const TidyJournalEntry&)> entryLine = &TidyJournalEntry::line;

    // Throws when another run holds the lock (anotherRunMessage), when the
    // journal can't be started or a line can't be written (before the
    // change it would record), and Cancelled. An item whose line can't be
    // encoded fails alone, untouched.
    TidyResult apply(const TidyPlan& plan, const std::filesystem::path& journalDir, bool tagsOnly,
                     const Progress& progress, std::stop_token stop) const;

    // Throws ConversionError or DecodingError, before anything is touched,
    // for a journal it can't read whole or while another run holds the
    // lock, and Cancelled. An empty journal (a run killed before it changed
    // anything) is removed with a notice.
    TidyResult undo(const std::filesystem::path& journal, const Progress& progress,
                    std::stop_token stop) const;

    static std::filesystem::path journalURL(const std::filesystem::path& journalDir);

    // A new stopover name for a two-step rename: ".tarvik-rename-" + a UUID,
    // the name other versions of the program know and sweep.
    static std::string newStopover();

    // Moves without replacing anything. A change of letter case or normal
    // form only goes through `stopover` (newStopover() when not given)
    // in the source's folder.
    // Throws "移動先に同じ名前のファイルがあります: " + name when the
    // destination is taken by another file.
    static void move(const std::filesystem::path& source, const std::filesystem::path& destination,
                     const std::optional<std::string>& stopover = std::nullopt);

    // Whether `destination` is another file or folder than `source`, judged
    // by the names its folder lists: a volume that ignores letter case
    // answers for every spelling of a name, and may give each spelling its
    // own inode number, so neither lstat nor inode numbers can tell.
    static bool isTaken(const std::filesystem::path& source,
                        const std::filesystem::path& destination);

    // A place below the root, as the disk names it.
    struct Place {
        std::filesystem::path path;
        std::string relative;   // "/"-separated, below the root
        std::size_t found = 0;  // ensureFolders: the leading levels that are there
    };

    // How a folder that isn't there is named: in NFC, as the program names
    // what it makes, or as `relative` spells it, byte for byte, where an
    // undo gives back a name the disk had.
    enum class NewName { nfc, asSpelled };

    // The folders of `relative` (its last part is a file) below `root`,
    // never through a link: each level is the folder of the same name, else
    // one whose name is the same in NFC or differs only in letter case (the
    // one on disk is used, never a second folder beside it), else a new one
    // named as `naming` says, made when `make`. Returns the folder and, in
    // `relative`, the whole path with the names found. Throws linkReason for
    // a link on the way, "フォルダを作れません: " for a file on the way, a
    // path that leaves the root, or a failure.
    static Place ensureFolders(const std::filesystem::path& root, const std::string& relative,
                               bool make = true, NewName naming = NewName::nfc);

    // The regular file at `relative` below `root`, every level matched by
    // the name the disk lists (its own, else the same in NFC; never another
    // letter case), the folders above it also by the other names `renamed`
    // knows for them; nothing when it isn't there. Throws linkReason when
    // the file or a folder on the way is a link.
    static std::optional<Place> findFile(const std::filesystem::path& root,
                                         const std::string& relative,
                                         const RenamedFolders* renamed = nullptr);

    // Removes the folders (and their parents below `root`) that hold nothing
    // or only ".DS_Store"; only real folders, never through a link, never
    // `root`; never fails.
    static void removeEmptyFolders(const std::set<std::filesystem::path>& folders,
                                   const std::filesystem::path& root);

    // `root` joined with a "/"-separated path from a plan or journal, or
    // nothing when the path is absolute, has an empty, "." or ".." part, or
    // isn't valid UTF-8.
    static std::optional<std::filesystem::path> inside(const std::filesystem::path& root,
                                                       const std::string& relative);

    // Refuses, before anything is touched, a path from a plan or journal
    // that `inside` refuses ("ライブラリの外を指すパスです: "), or that holds a
    // NUL byte or a name longer than the root's file system allows
    // ("使えないパスです: "); names in the message are cut to 255 bytes.
    static void checkPath(const std::filesystem::path& root, const std::string& relative);

    // What a crash left in `folder`: a tag write's temporaries
    // (".tarvik-tmp-…", ".tarvik-….part") are removed, what its commit left
    // (".tarvik-swap-…") is put right (see InPlaceLeftover); a
    // ".tarvik-rename-…" stopover, or another program's save that can't go
    // back, gets a visible name. One notice each. Callers first give back
    // the stopovers that journals name (finishInterruptedRuns).
    static void sweep(const std::filesystem::path& folder, const Progress& progress);
};

}  // namespace tarvik
