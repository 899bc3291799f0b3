#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/AlbumFolders.hpp"
#include "Core/SDCard/SDCardTools.hpp"

namespace tarvik {
namespace {

std::string nfcText(const std::string& text) {
    return text::isValidUTF8(text) ? text::nfc(text) : text;
}

bool isJunk(std::string_view name) {
    return name.starts_with("._") || name == ".DS_Store";
}

}  // namespace

ConversionEvent::Summary ConversionRunner::RunState::summary() const {
    std::vector<std::string> names;
    for (const std::string& path : placed) {
        if (const auto name = carried.find(path); name != carried.end())
            names.push_back(name->second);
    }
    std::sort(names.begin(), names.end());
    return {progress,
            stopped,
            cardFull,
            renamed,
            std::vector<std::string>(placed.begin(), placed.end()),
            halt,
            std::move(names)};
}

std::optional<std::filesystem::path> ConversionRunner::cardRoot(
    const PosixFS::Root& writingTo) const {
    if (profile.files.root.empty()) return writingTo.folder;
    const std::optional<PosixFS::Location> root = PosixFS::locate(writingTo, profile.files.root);
    if (!root || !root->exists() || !PosixFS::isDirectory(root->path)) return std::nullopt;
    return root->path;
}

std::string ConversionRunner::haltReason(ConversionEvent::Halt why) const {
    using Halt = ConversionEvent::Halt;
    switch (why) {
        case Halt::destinationReadOnly:
            return fileSystemMessage("書き込めません: ", destination.native(), EROFS);
        case Halt::destinationLink:
            return std::string(SDCardTools::folderIsLinkMessage) +
                   rootLink().value_or(destination).string();
        case Halt::musicFolderLost:
            return std::string(musicFolderLostMessage);
        case Halt::destinationLost:
        case Halt::none:
            break;
    }
    return std::string(destinationLostMessage);
}

void ConversionRunner::halt(RunState& state, Events& events, ConversionEvent::Halt why) const {
    state.stopped = true;
    if (state.halt != ConversionEvent::Halt::none) return;
    state.halt = why;
    ++state.progress.failed;
    const std::filesystem::path place = why == ConversionEvent::Halt::musicFolderLost ? source
                                        : why == ConversionEvent::Halt::destinationLink
                                            ? rootLink().value_or(destination)
                                            : destination;
    events.send(ConversionEvent::failed(place.string(), haltReason(why)));
}

std::optional<std::filesystem::path> ConversionRunner::rootLink() const {
    std::filesystem::path level = destination;
    for (std::string_view name : SDCardTools::components(profile.files.root)) {
        level /= name;
        struct stat status {};
        if (::lstat(level.c_str(), &status) != 0) return std::nullopt;
        if (S_ISLNK(status.st_mode)) return level;
    }
    return std::nullopt;
}

void ConversionRunner::finish(RunState& state, const std::vector<ConversionPlan::Item>& items,
                              Events& events, std::stop_token stop) const {
    if (stop.stop_requested()) state.stopped = true;
    if (state.destination && !PosixFS::isPresent(*state.destination)) {
        halt(state, events, ConversionEvent::Halt::destinationLost);
    }
    if (state.cardFull && !state.stopped) {
        // What a link now leads to is not what this run wrote: it stays.
        const auto unreachable = [&state](const std::string& path) {
            return !state.destination || !PosixFS::reaches(*state.destination, path);
        };
        std::map<std::string, std::string> written = state.written;
        std::erase_if(written, [&](const auto& entry) { return unreachable(entry.second); });
        const RollBack rollBack =
            rollBackPartialAlbums(items, state.excluded, state.failed, state.placed, written);
        for (const std::string& path : rollBack.removed) state.placed.erase(path);
        state.progress.done -= static_cast<std::int64_t>(rollBack.removed.size());
        if (!rollBack.albumFolders.empty()) {
            std::string folders;
            for (const std::string& folder : rollBack.albumFolders) {
                folders += (folders.empty() ? "" : "、") + folder;
            }
            events.send(ConversionEvent::notice("途中までしか入らなかったアルバム（" + folders +
                                                "）は、次のカードにまとめて入れます"));
        }
        // A copy that found no room may have made its album folder first.
        std::set<std::string> created = state.created;
        std::erase_if(created, unreachable);
        removeEmptyFolders(created);
    }
    events.send(ConversionEvent::finishing());
    // A card that went away or turned read-only takes no more deletions.
    const bool cardUsable = state.halt != ConversionEvent::Halt::destinationLost &&
                            state.halt != ConversionEvent::Halt::destinationReadOnly;
    if (state.destination && cardUsable) {
        if (const std::optional<std::filesystem::path> root = cardRoot(*state.destination)) {
            removeJunk(*root);
        }
    }
    events.send(ConversionEvent::finished(state.summary()));
    events.finish();
}

void ConversionRunner::failRun(RunState& state, std::exception_ptr error, Events& events) const {
    try {
        std::rethrow_exception(error);
    } catch (const Cancelled&) {
        state.stopped = true;
        events.send(ConversionEvent::finished({{}, true, false, state.renamed, {}}));
    } catch (...) {
        std::string reason = "不明なエラーで計画できませんでした";
        try {
            throw;
        } catch (const std::exception& known) {
            reason = known.what();
        } catch (...) {
        }
        events.send(ConversionEvent::failed(source.string(), reason));
        ConversionEvent::Progress progress;
        progress.failed = 1;
        events.send(ConversionEvent::finished({progress, false, false, state.renamed, {}}));
    }
    events.finish();
}

ConversionRunner::RollBack ConversionRunner::rollBackPartialAlbums(
    const std::vector<ConversionPlan::Item>& items, const std::set<std::string>& exclude,
    const std::set<std::string>& failed, const std::set<std::string>& placed,
    const std::map<std::string, std::string>& written) {
    using SDCardTools::parentPath;
    std::map<std::string, std::int64_t> expected;
    for (const ConversionPlan::Item& item : items) {
        const std::string path = nfcText(item.relativePath);
        if (!exclude.contains(path) && !failed.contains(path)) ++expected[parentPath(path)];
    }
    std::map<std::string, std::int64_t> present;
    for (const std::string& path : placed) ++present[parentPath(path)];

    std::set<std::string> partial;
    for (const auto& [folder, count] : present) {
        const auto planned = expected.find(folder);
        if (planned != expected.end() && count < planned->second) partial.insert(folder);
    }
    // A card on which no album written now is whole keeps what it got: taking
    // it back would leave the card empty for this run.
    const bool someWrittenWhole =
        std::any_of(written.begin(), written.end(),
                    [&](const auto& entry) { return !partial.contains(parentPath(entry.first)); });
    if (partial.empty() || !someWrittenWhole) return {};

    RollBack result;
    std::set<std::string> folders;
    std::set<std::string> named;
    for (const auto& [path, file] : written) {
        const std::string folder = parentPath(path);
        if (!partial.contains(folder)) continue;
        ::unlink(file.c_str());
        result.removed.push_back(path);
        folders.insert(parentPath(file));
        named.insert(folder);
    }
    for (const std::string& folder : folders) {
        ::rmdir(folder.c_str());
        ::rmdir(parentPath(folder).c_str());
    }
    std::sort(result.removed.begin(), result.removed.end());
    result.albumFolders.assign(named.begin(), named.end());
    return result;
}

void ConversionRunner::removeEmptyFolders(const std::set<std::string>& folders) {
    std::vector<std::string> deepestFirst(folders.begin(), folders.end());
    std::sort(deepestFirst.begin(), deepestFirst.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    // rmdir removes only an empty folder and never follows a link.
    for (const std::string& folder : deepestFirst) ::rmdir(folder.c_str());
}

void ConversionRunner::removeJunk(const std::filesystem::path& folder) {
    // The folder as given: a card mounted under an NFD name is still the card.
    for (const SDCardTools::Entry& entry : SDCardTools::walk(folder)) {
        if (entry.isDir) continue;
        // A send beside this run, another run, or one left behind that is
        // still copying holds its temporary file's lock: that file stays.
        if (PosixFS::isTemporaryName(entry.name)) {
            PosixFS::removeLeftover(entry.path);
        } else if (isJunk(entry.name)) {
            ::unlink(entry.path.c_str());
        }
    }
}

}  // namespace tarvik
