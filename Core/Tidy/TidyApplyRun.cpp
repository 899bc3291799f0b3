// An apply's renaming of folders as a whole: where every file the library
// holds in a folder moves, and only the folder's letter case or normal form
// changes, the folder is renamed in one step, journaled, before its files.

#include "Core/Tidy/TidyApplyRun.hpp"

#include <algorithm>
#include <map>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Pipeline/LibraryScanner.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

bool below(const std::string& path, const std::string& folder) {
    return text::nfc(path).starts_with(text::nfc(folder) + "/");
}

// The audio files the library holds below `folder`, links not followed.
std::size_t audioFilesBelow(const fs::path& folder) {
    std::size_t count = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file(error) && !it->is_symlink(error) &&
            LibraryScanner::hasAudioExtension(it->path().filename().string())) {
            ++count;
        }
    }
    return count;
}

// Renames a folder as a whole, journaled under the name the disk gave it;
// false when the rename could not be done (a notice says why).
bool renameFolder(RunContext& context, const fs::path& folder, const fs::path& destination) {
    TidyJournalEntry entry;
    entry.source = folder.lexically_relative(context.root).generic_string();
    entry.target = destination.lexically_relative(context.root).generic_string();
    entry.moved = true;
    entry.folder = true;
    entry.stopover = TidyApplier::newStopover();
    entry.id = context.nextId++;
    entry.pending = true;
    context.journal.append(entry.line());
    context.renamed.add(entry.source, entry.target);
    bool moved = false;
    try {
        TidyApplier::move(folder, destination, entry.stopover);
        moved = true;
    } catch (const ConversionError& failure) {
        if (context.progress) context.progress({TidyEvent::Notice{failure.what()}});
    }
    context.journal.append(TidyJournalCompletion{*entry.id, false, moved}.line());
    return moved;
}

}  // namespace

void renameFoldersWhole(RunContext& context, const TidyPlan& plan,
                        const std::vector<const TidyItem*>& chosen,
                        std::vector<std::string>& sources) {
    // Folder (as the plan names it) -> the name the items want for it.
    std::map<std::string, std::string> wanted;
    std::set<std::string> disputed;
    for (const TidyItem* item : chosen) {
        if (!item->pathChange) continue;
        const auto from = pathLevels(item->source), to = pathLevels(item->target);
        for (std::size_t d = 0; d + 1 < from.size() && d + 1 < to.size(); ++d) {
            if (folded(from[d]) != folded(to[d])) break;
            if (text::equivalent(from[d], to[d])) continue;
            const std::string key = text::nfc(joinedLevels(from, d + 1));
            const std::string target = joinedLevels(to, d + 1);
            const auto [at, added] = wanted.emplace(key, target);
            if (!added && !text::equivalent(at->second, target)) disputed.insert(key);
        }
    }
    // An interrupted run may have renamed the folder already: it is found
    // under either name.
    const auto find = [&](const std::string& relative) {
        return findFolder(context.root, relative, &context.renamed, true);
    };
    std::vector<std::pair<std::string, std::string>> renames;
    for (const auto& [from, to] : wanted) {
        if (disputed.contains(from)) continue;
        std::size_t inside = 0;
        bool whole = true;
        for (const TidyItem& item : plan.items) {
            if (!below(item.source, from)) continue;
            ++inside;
            whole = whole && item.selected && item.status == TidyItem::Status::change &&
                    item.pathChange;
        }
        const std::optional<fs::path> folder = find(from);
        if (whole && folder && audioFilesBelow(*folder) == inside) renames.emplace_back(from, to);
    }
    // Shallow first; a deeper folder is then found under its parent's new name.
    std::sort(renames.begin(), renames.end(), [](const auto& a, const auto& b) {
        return pathLevels(a.first).size() < pathLevels(b.first).size();
    });
    for (std::size_t r = 0; r < renames.size(); ++r) {
        const auto& [from, to] = renames[r];
        const std::optional<fs::path> folder = find(from);
        if (!folder) continue;
        const std::string last = PosixFS::nfc(fs::path(to).filename()).string();
        const fs::path destination = folder->parent_path() / last;
        const std::string relative = destination.lexically_relative(context.root).generic_string();
        // Under its new name already (an earlier run renamed it): not this
        // run's move, so not in its journal, whose undo would otherwise take
        // the name from tracks this run never touched. Its tracks are looked
        // for under the new name all the same.
        if (folder->filename() != last && !renameFolder(context, *folder, destination)) continue;
        const std::size_t depth = pathLevels(from).size();
        const auto rebase = [&](std::string& path) {
            if (!below(path, from)) return;
            const std::vector<std::string> parts = pathLevels(path);
            std::string rebased = relative;
            for (std::size_t i = depth; i < parts.size(); ++i) rebased += "/" + parts[i];
            path = rebased;
        };
        for (std::string& path : sources) rebase(path);
        for (std::size_t later = r + 1; later < renames.size(); ++later) {
            rebase(renames[later].first);
        }
    }
}

}  // namespace tarvik
