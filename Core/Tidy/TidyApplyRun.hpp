// What an apply run carries from item to item, and the renaming of a
// folder as a whole with which it begins where only the folder's letter
// case or normal form changes. Internal to the tidy; runs on the applying
// thread, under the run's TidyLock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyJournal.hpp"
#include "Core/Tidy/TidyPaths.hpp"

namespace tarvik {

struct RunContext {
    const std::filesystem::path& root;
    JournalWriter& journal;
    const TidyApplier::Progress& progress;
    std::int64_t nextId = 1;
    std::set<std::filesystem::path> emptied;  // folders a file left or a run made
    RenamedFolders renamed;
};

// Renames, journaled, each folder whose planned name differs only in letter
// case or normal form when every file the library holds in it is among the
// chosen items and moves: covers and logs go with the tracks. `sources`
// (one per chosen item) are changed to the new folder names, also where an
// interrupted earlier run renamed the folder already.
void renameFoldersWhole(RunContext& context, const TidyPlan& plan,
                        const std::vector<const TidyItem*>& chosen,
                        std::vector<std::string>& sources);

}  // namespace tarvik
