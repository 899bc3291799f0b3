// Library selection: the music folder, its artists, the ticked artists and
// albums with their persistence, the sidebar's filter and the flags the steps
// enable their buttons by.
#include <algorithm>
#include <system_error>

#include "App/Model/AppModel.hpp"
#include "App/Model/ExportDestination.hpp"
#include "App/Model/SelectionKeys.hpp"
#include "Core/Naming/ArtistAliases.hpp"
#include "Core/Pipeline/LibraryScanner.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {

namespace {

// The artist a selection key names: the text before the first "/".
std::string artistOf(const std::string& key) {
    return key.substr(0, key.find('/'));
}

// The last component of a path that may end in "/".
std::string lastComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return std::filesystem::path(path).filename().string();
}

}  // namespace

std::optional<std::vector<std::string>> AppModel::artistsIn(const std::filesystem::path& folder) {
    return LibraryScanner{folder}.subfolderNames();
}

void AppModel::chooseSource(const std::filesystem::path& folder) {
    // What the folder is (a library, an artist's, an album's) is read from
    // it on a worker; a folder that does not answer in time is taken as a
    // library, which its watch then tells as not answering.
    const std::uint64_t number = ++choices_;
    choosing_ = true;
    emit checkingChanged();
    const bool started = tasks_.tryStart([poster = poster(), questions = folderQuestions_, folder,
                                          number](std::stop_token stop) mutable {
        const std::optional<LibraryScanner::Level> level = questions.ask<LibraryScanner::Level>(
            folder.native(), [folder] { return LibraryScanner::detectLevel(folder); }, stop);
        if (stop.stop_requested()) return;
        poster([folder, number, level](AppModel& model) {
            model.chosen(folder, number, level.value_or(LibraryScanner::Level::library()));
        });
    }) != nullptr;
    if (!started) chosen(folder, number, LibraryScanner::Level::library());
}

void AppModel::chosen(const std::filesystem::path& folder, std::uint64_t number,
                      const LibraryScanner::Level& level) {
    if (number != choices_) return;  // a later choice counts
    choosing_ = false;
    musicLocation_.forget();
    chosenByHand_ = true;
    const std::string artist = SelectionKeys::shown(level.artist).text;
    switch (level.kind) {
        case LibraryScanner::Level::Kind::artist:
            setSrcPath(level.root.string());
            setSelected({level.artist});
            setSourceNotice("「" + artist +
                            "」のフォルダを選んだので、音楽のフォルダは 1 つ上にして「" + artist +
                            "」だけを選びました。");
            break;
        case LibraryScanner::Level::Kind::album:
            setSrcPath(level.root.string());
            setSelected({level.artist + "/" + level.album});
            setSourceNotice("アルバム「" + SelectionKeys::shown(level.album).text +
                            "」のフォルダを選んだので、音楽のフォルダは 2 "
                            "つ上にして、このアルバムだけを書き出します。");
            break;
        case LibraryScanner::Level::Kind::library:
            setSrcPath(folder.string());
            setSourceNotice(std::nullopt);
            break;
    }
    emit checkingChanged();
    proceedIfChecked();
}

void AppModel::reloadArtists() {
    // The stored ticks stay as they are until a look finds the folder where
    // it was last seen: the drive holding the library may just not be
    // mounted yet.
    musicWatch_->watch(srcPath(), !musicFolderMissing_ && !musicFolderChecking_);
    showArtists();
}

void AppModel::showArtists() {
    const std::string source = srcPath();
    const FolderWatch& watch = *musicWatch_;
    const FolderWatch::Sight& look = watch.lastLook();
    // A listing or a look under way may tell of a volume or a folder gone or
    // come since: what was found is judged once both answered, each of which
    // brings it here again. The last judgement stands meanwhile.
    const bool listing = volumesListed_ && !volumeLooks_->current();
    const bool looking = watch.hasLooked() && !musicLocation_.current(source);
    if ((listing || looking) && !watch.notAnswering()) return;
    // Judged once a look of this folder ended and the volumes are listed: a
    // drive's mount folder stays behind, empty, while the drive is out, and
    // udisks makes it a moment before it mounts, so a folder found on another
    // volume than it was last seen on counts as gone. So does one whose file
    // system stopped answering.
    const bool judged = !source.empty() && watch.folder() == std::filesystem::path(source) &&
                        ((watch.hasLooked() && volumesListed_) || watch.notAnswering());
    bool there = judged && !watch.notAnswering() && look.there() &&
                 musicLocation_.whereLastSeen(source, mounted_);
    // Settings of an older version keep ticks but no record of where the
    // folder was seen: an empty folder there is the mount folder of a drive
    // not mounted yet, not an empty library, until the folder is chosen by hand.
    if (there && look.names.empty() && !selected_.empty() && !chosenByHand_ &&
        !musicLocation_.hasRecord(source))
        there = false;
    std::vector<std::string> found = there ? look.names : std::vector<std::string>{};
    const bool missing = judged && !there;
    const bool checking = !source.empty() && !judged;
    if (found != artists_ || missing != musicFolderMissing_ || checking != musicFolderChecking_) {
        const bool wasChecking = musicFolderChecking_;
        artists_ = std::move(found);
        musicFolderMissing_ = missing;
        musicFolderChecking_ = checking;
        emit artistsChanged();
        if (wasChecking != checking) emit checkingChanged();
    }
    if (!there) return;
    chosenByHand_ = false;
    musicLocation_.note(source, mounted_);

    // The scanner gives NFC names, or the bytes of a name that is not UTF-8;
    // keys compare in that form too. Only a change is written: a notice the
    // choice of the folder just gave stays.
    const std::set<std::string> names(artists_.begin(), artists_.end());
    std::set<std::string> kept;
    for (const std::string& key : selected_)
        if (names.contains(text::nfcName(artistOf(key)))) kept.insert(key);
    if (kept != selected_) setSelected(std::move(kept));
}

void AppModel::followMusicFolder() {
    // Asked of the watch's worker; its look tells what it finds.
    musicWatch_->watch(srcPath(), !musicFolderMissing_ && !musicFolderChecking_);
}

void AppModel::musicFolderSeen(const FolderWatch::Sight& sight) {
    // A look that ends is taken when it ends (musicFolderLooked); one that
    // does not answer is told here, and nothing waits on it any more.
    if (sight.kind != FolderWatch::Sight::Kind::notAnswering) return;
    showArtists();
    haltForUnansweredMusicFolder();
    decideWaiting();
    proceedIfChecked();
}

void AppModel::musicFolderLooked() {
    showArtists();
    decideWaiting();
    proceedIfChecked();
}

void AppModel::adoptLegacySource(const std::string& folder) {
    // An older music folder that is not there is not taken over; whether it
    // is there is asked on a worker, and taken when the answer comes.
    adoptingLegacy_ = true;
    const bool started = tasks_.tryStart([poster = poster(), questions = folderQuestions_,
                                          folder](std::stop_token stop) mutable {
        const std::optional<bool> there = questions.ask<bool>(
            folder,
            [folder] {
                std::error_code error;
                return std::filesystem::exists(folder, error);
            },
            stop);
        poster([folder, there = there.value_or(false)](AppModel& model) {
            model.adoptingLegacy_ = false;
            if (there && model.srcPath().empty()) model.setSrcPath(folder);
            emit model.checkingChanged();
        });
    }) != nullptr;
    if (!started) adoptingLegacy_ = false;
}

void AppModel::persistSelected() {
    std::vector<std::string> texts;
    for (const std::string& key : selected_) texts.push_back(SelectionKeys::stored(key));
    services_.settings->setStringList("selected", texts);
    setSourceNotice(std::nullopt);
}

std::vector<std::string> AppModel::filteredArtists() const {
    const std::string wanted = text::lower(text::nfc(text::trim(search_)));
    if (wanted.empty()) return artists_;
    std::vector<std::string> shown;
    std::copy_if(artists_.begin(), artists_.end(), std::back_inserter(shown),
                 [&](const std::string& artist) {
                     // As the row reads: a name that is not UTF-8 is found by what it shows.
                     const std::string name = SelectionKeys::shown(artist).text;
                     return text::lower(name).find(wanted) != std::string::npos;
                 });
    return shown;
}

bool AppModel::hasSelection() const {
    return !srcPath().empty() && !selected_.empty() && !musicFolderMissing_ &&
           !musicFolderChecking_;
}

bool AppModel::canExport() const {
    if (!hasSelection()) return false;
    if (destPath().empty() || selectedProfile() == nullptr) return false;
    // Last, because it is the only test that touches the disk.
    return !destinationRefusal();
}

std::optional<std::string> AppModel::destinationRefusal() const {
    const std::string dest = destPath();
    if (dest.empty()) return std::string(ExportDestination::notFound);
    // Until its file system answers, the destination is being checked.
    if (destination_.path != dest || !destination_.answered)
        return std::string(ExportDestination::checking);
    return destination_.refusal;
}

bool AppModel::destinationLooksLikeArtistFolder() const {
    const std::string dest = destPath();
    if (dest.empty() || destinationVolume() != nullptr) return false;
    const std::string key = ArtistAliases::key(lastComponent(dest));
    // A name of nothing but blanks has no key and says nothing about artists.
    if (key.empty()) return false;
    const auto matches = [&](const std::string& name) { return ArtistAliases::key(name) == key; };
    return std::any_of(artists_.begin(), artists_.end(), matches) ||
           std::any_of(selected_.begin(), selected_.end(), matches);
}

}  // namespace tarvik
