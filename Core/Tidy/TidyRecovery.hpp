// What apply and undo share beyond single files: the state of one apply
// run, the other names of folders the journals renamed as a whole, the
// judging of a journal line whose completion a crash (or a full disk) never
// wrote, the finishing of earlier interrupted runs with the clean-up of
// what they left, and the renaming of a folder as a whole when only its
// letter case or normal form changes. Internal to the tidy; runs on the
// applying or undoing thread, under the run's TidyLock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Core/Platform/FileStreams.hpp"
#include "Core/Tidy/TidyApplier.hpp"
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

struct RunContext {
    const std::filesystem::path& root;
    JournalWriter& journal;
    const TidyApplier::Progress& progress;
    std::int64_t nextId = 1;
    std::set<std::filesystem::path> emptied;  // folders a file left or a run made
    RenamedFolders renamed;
};

// "移動先に同じ名前のファイルがあります: " + the destination's name.
[[noreturn]] void destinationTaken(const std::filesystem::path& destination);

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
// leaves the save alone). No content announced: never rewritten. Entries
// of older versions are judged by inode. No longer pending afterwards. An
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

// Renames, journaled, each folder whose planned name differs only in letter
// case or normal form when every file the library holds in it is among the
// chosen items and moves: covers and logs go with the tracks. `sources`
// (one per chosen item) are changed to the new folder names, also where an
// interrupted earlier run renamed the folder already.
void renameFoldersWhole(RunContext& context, const TidyPlan& plan,
                        const std::vector<const TidyItem*>& chosen,
                        std::vector<std::string>& sources);

}  // namespace tarvik
