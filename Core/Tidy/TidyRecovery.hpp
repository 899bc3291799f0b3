// What apply and undo share beyond single files: the state of one apply
// run, the judging of a journal line whose completion a crash (or a full
// disk) never wrote, the finishing of earlier interrupted runs, and the
// renaming of a folder as a whole when only its letter case or normal form
// changes. Internal to the tidy; runs on the applying or undoing thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyJournal.hpp"

namespace tarvik {

struct RunContext {
    const std::filesystem::path& root;
    JournalWriter& journal;
    const TidyApplier::Progress& progress;
    std::int64_t nextId = 1;
    std::set<std::filesystem::path> emptied;  // folders a file left
};

// The levels of a "/"-separated path, empty ones dropped.
std::vector<std::string> pathLevels(const std::string& path);

// The real folder at `relative` below `root`, levels matched as the disk
// names them, none a link.
std::optional<std::filesystem::path> findFolder(const std::filesystem::path& root,
                                                const std::string& relative);

// Gives a file or folder that waits under the entry's stopover (a move
// that a crash cut between its two renames, in apply or in undo) a visible
// name again: the source's name where free, else the target's. Whether the
// entry is pending or not; never fails. Notices go to `progress`.
void restoreStopover(const std::filesystem::path& root, const TidyJournalEntry& entry,
                     const TidyApplier::Progress& progress);

// Judges a pending entry by what the disk holds: a file under the entry's
// stopover is given its source name back, and the entry then says where the
// file is (`moved`, `target`) and whether its tags were rewritten (its inode
// changed). No longer pending afterwards; the size checks are dropped. An
// entry whose file is nowhere stays pending. Notices go to `progress`.
void settle(const std::filesystem::path& root, TidyJournalEntry& entry,
            const TidyApplier::Progress& progress);

// Finishes the runs in `journalDir` on the same root that ended without
// completing a change: each such change is judged and its completion
// written, so that undoing that journal restores it; and gives back every
// stopover the journals name (an undo cut short). Apply and undo call it
// before they touch anything. Never fails; a journal it can't read or
// write is left with a notice.
void finishInterruptedRuns(const std::filesystem::path& journalDir, const std::string& root,
                           const TidyApplier::Progress& progress);

// Renames, journaled, each folder whose planned name differs only in letter
// case or normal form when every file the library holds in it is among the
// chosen items and moves: covers and logs go with the tracks. `sources`
// (one per chosen item) are changed to the new folder names.
void renameFoldersWhole(RunContext& context, const TidyPlan& plan,
                        const std::vector<const TidyItem*>& chosen,
                        std::vector<std::string>& sources);

}  // namespace tarvik
