// What apply and undo share beyond single files: the judging of a journal
// line whose completion a crash (or a full disk) never wrote, the finishing
// of earlier interrupted runs with the clean-up of what they left, and the
// journals' folder renames. Internal to the tidy; runs on the applying or
// undoing thread, under the run's TidyLock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/InPlaceLeftover.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyJournal.hpp"
#include "Core/Tidy/TidyPaths.hpp"

namespace tarvik {

// "移動先に同じ名前のファイルがあります: " + the destination's name.
[[noreturn]] void destinationTaken(const std::filesystem::path& destination);

// Gives a file or folder that waits under the entry's stopover (a move
// that a crash cut between its two renames, in apply or in undo) a visible
// name again: the source's name where free, else the target's. Whether the
// entry is pending or not; never fails. Notices go to `progress`.
void restoreStopover(const std::filesystem::path& root, const TidyJournalEntry& entry,
                     const RenamedFolders& renamed, const TidyApplier::Progress& progress);

// What the leftovers of killed tag rewrites told while they were put right,
// before any change is judged: the new contents that never stayed in a
// song's place (killed before the exchange, or a save of another program
// exchanged back), by digest; and, for entries of older versions, the
// inodes of other programs' saves that a leftover gave back (within this
// one look at the disk).
struct LeftoverEvidence {
    std::set<std::string> takenBack;
    std::set<std::uint64_t> savesPutBack;
};

// Judges a pending entry by what the disk holds: a file under the entry's
// stopover is given its source name back, and the entry then says where the
// file is (`moved`, `target`) and whether its tags were rewritten: the song
// holds the content the run announced, or that content neither stayed
// beside it (`evidence`) nor is in it (another program saved over the run's
// write since: the entry then records the run's write, so that the undo
// leaves the save alone). No content announced: never rewritten. A song
// never rewritten that no longer holds what the run checked was saved by
// another program since (`savedSince`). Entries of older versions are
// judged by inode. No longer pending afterwards. An
// entry whose file is nowhere stays pending. Notices go to `progress`.
void settle(const std::filesystem::path& root, TidyJournalEntry& entry,
            const RenamedFolders& renamed, const TidyApplier::Progress& progress,
            const LeftoverEvidence& evidence = {});

// Removes or gives back every ".tarvik-" leftover in every folder that a
// line of the journal names, under its old and its new name; never fails.
void sweepNamed(const std::filesystem::path& root, const std::vector<TidyJournalEntry>& lines,
                const RenamedFolders& renamed, const TidyApplier::Progress& progress);

// What a tag rewrite killed midway left under `leftover`, put right as
// InPlaceLeftover::settle does, with a notice; a save of another program
// that can't go back is left to the caller.
std::optional<InPlaceLeftover::Held> settleInPlaceLeftover(const std::filesystem::path& leftover,
                                                           const TidyApplier::Progress& progress);

// Finishes the runs in `journalDir` on the same root that ended without
// completing a change and whose run is gone (holds no lock): each such
// change is judged and its completion written, so that undoing that
// journal restores it; every stopover the journals name is given back,
// their leftovers swept, the folders made for moves that never happened
// removed when empty, and an empty journal (a run killed before its first
// line: it changed nothing) removed. Apply and undo call it under their
// TidyLock before they touch anything; `undoing`, the journal an undo
// reads, is among them wherever it lies. Returns the folder renames of all
// these journals. Never fails; a journal it can't read or write is left
// with a notice.
RenamedFolders finishInterruptedRuns(const std::filesystem::path& journalDir,
                                     const std::string& root, const TidyApplier::Progress& progress,
                                     const std::optional<std::filesystem::path>& undoing = {});

// Adds to `renamed` the folder renames of the undone journals
// ("….jsonl.undone") in `journalDir` on the same root. A run that found a folder under the name
// an earlier run gave it journals its files under that name, and the
// earlier run may be undone first. Never fails; a journal it can't read is
// passed over.
void addUndoneRenames(RenamedFolders& renamed, const std::filesystem::path& journalDir,
                      const std::string& root);

// Removes an empty journal (its run changed nothing) with one notice; true
// when it did.
bool removeEmptyJournal(const std::filesystem::path& journal,
                        const TidyApplier::Progress& progress);

}  // namespace tarvik
