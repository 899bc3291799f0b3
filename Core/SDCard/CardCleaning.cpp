#include "Core/SDCard/CardCleaning.hpp"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <set>

#include "Core/Naming/PosixFS.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {
namespace {

bool isCompanionFile(const std::string& name) {
    return name.starts_with("._") || name == ".DS_Store";
}

// Every folder between an audio file and the root, the root itself excluded.
std::set<std::string> musicFolders(const std::vector<Entry>& entries, const std::string& root) {
    std::set<std::string> folders;
    for (const Entry& entry : entries) {
        if (entry.isDir || entry.name.starts_with('.') || !isCardAudioFile(entry.name)) continue;
        // Every walked path starts with the root, so a longer path lies below it.
        for (std::string folder = parentPath(entry.path.native()); folder.size() > root.size();
             folder = parentPath(folder)) {
            if (!folders.insert(folder).second) break;  // the rest above is in already
        }
    }
    return folders;
}

}  // namespace

CleanResult clean(const std::filesystem::path& root, std::stop_token stop) {
    return clean(root, {}, std::move(stop));
}

CleanResult clean(const std::filesystem::path& root, const CleanProgress& progress,
                  std::stop_token stop) {
    if (stop.stop_requested()) return {};
    std::string top = root.native();
    // Paths built below "card/" would hold "//"; with one "/" a folder's path
    // and the path its contents name as their parent are the same text.
    while (top.size() > 1 && top.back() == '/') top.pop_back();

    std::vector<Entry> entries = walk(top, stop);
    const std::set<std::string> folders = musicFolders(entries, top);
    // Longest path first, so every folder's contents come before the folder.
    std::ranges::stable_sort(entries, [](const Entry& a, const Entry& b) {
        return a.path.native().size() > b.path.native().size();
    });

    CleanResult result;
    const auto total = static_cast<std::int64_t>(entries.size());
    std::int64_t done = 0;
    for (const Entry& entry : entries) {
        if (stop.stop_requested()) break;
        if (progress) progress(done, total);
        ++done;
        if (entry.isDir) {
            if (!folders.contains(entry.path.native())) continue;
        } else if (isCompanionFile(entry.name)) {
            if (::unlink(entry.path.c_str()) == 0) ++result.removed;
            continue;
        } else if (PosixFS::isTemporaryName(entry.name)) {
            // Only what no copy is writing: a send or an export beside may be.
            if (PosixFS::removeLeftover(entry.path)) ++result.removed;
            continue;
        } else if (!isCardAudioFile(entry.name)) {
            continue;
        }
        const std::string wanted = safeName(entry.name, entry.isDir);
        if (wanted == entry.name) continue;  // byte for byte: a decomposed name is renamed
        // A folder is never renamed only to pad it: an export made it and
        // finds it again by this name.
        if (entry.isDir && withoutPadding(wanted) == withoutPadding(entry.name)) continue;
        try {
            renameOnCard(entry.path, wanted);
            ++result.renamed;
        } catch (const std::exception&) {
            result.failed.push_back(entry.name);
        }
    }
    if (progress) progress(done, total);
    return result;
}

}  // namespace tarvik::SDCardTools
