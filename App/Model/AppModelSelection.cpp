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

// Whether the folder's entries can be read at all: an unmounted drive or a
// folder without permission is not an empty library.
bool canList(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator listing(folder, error);
    return !error;
}

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

void AppModel::chooseSource(const std::filesystem::path& folder) {
    musicLocation_.forget();
    const LibraryScanner::Level level = LibraryScanner::detectLevel(folder);
    const std::string artist = SelectionKeys::shown(level.artist).text;
    switch (level.kind) {
        case LibraryScanner::Level::Kind::artist:
            setSrcPath(level.root.string());
            reloadArtists();
            setSelected({level.artist});
            setSourceNotice("「" + artist +
                            "」のフォルダを選んだので、音楽のフォルダは 1 つ上にして「" + artist +
                            "」だけを選びました。");
            break;
        case LibraryScanner::Level::Kind::album:
            setSrcPath(level.root.string());
            reloadArtists();
            setSelected({level.artist + "/" + level.album});
            setSourceNotice("アルバム「" + SelectionKeys::shown(level.album).text +
                            "」のフォルダを選んだので、音楽のフォルダは 2 "
                            "つ上にして、このアルバムだけを書き出します。");
            break;
        case LibraryScanner::Level::Kind::library:
            setSrcPath(folder.string());
            reloadArtists();
            setSourceNotice(std::nullopt);
            break;
    }
}

void AppModel::reloadArtists() {
    const std::string source = srcPath();
    // Without a listable folder the stored ticks stay as they are: the drive
    // holding the library may just not be mounted yet.
    const bool listable = !source.empty() && canList(source);
    musicWatch_->watch(source, listable);
    showArtists(listable);
}

void AppModel::showArtists(bool listable) {
    const std::string source = srcPath();
    // A drive's mount folder stays behind, empty, while the drive is out, and
    // udisks makes it a moment before it mounts: a folder found on another
    // volume than it was last seen on counts as gone, and no tick is pruned
    // against it.
    const bool there = listable && musicLocation_.whereLastSeen(source, mounted_);
    std::vector<std::string> found =
        there ? LibraryScanner{source}.subfolderNames() : std::vector<std::string>{};
    const bool missing = !source.empty() && !there;
    if (found != artists_ || missing != musicFolderMissing_) {
        artists_ = std::move(found);
        musicFolderMissing_ = missing;
        emit artistsChanged();
    }
    if (!there) return;
    musicLocation_.note(source, mounted_);

    // The scanner gives NFC names, or the bytes of a name that is not UTF-8;
    // keys compare in that form too.
    const std::set<std::string> names(artists_.begin(), artists_.end());
    std::set<std::string> kept;
    for (const std::string& key : selected_)
        if (names.contains(text::nfcName(artistOf(key)))) kept.insert(key);
    if (kept != selected_) {
        selected_ = std::move(kept);
        emit selectedChanged();
    }
    persistSelected();
}

void AppModel::followMusicFolder() {
    const std::string source = srcPath();
    // While the watch waits for the folder's file system to answer, nothing
    // on this thread asks it: the folder counts as gone until it answers.
    if (source.empty() || musicWatch_->notAnswering()) {
        musicWatch_->watch(source, false);
        showArtists(false);
        return;
    }
    const bool listable = canList(source);
    musicWatch_->watch(source, listable);
    // A library still listed where it was stays as it is.
    if (listable && !artists_.empty() && musicLocation_.whereLastSeen(source, mounted_)) {
        musicLocation_.note(source, mounted_);
        return;
    }
    showArtists(listable);
}

void AppModel::musicFolderSeen(const FolderWatch::Sight& sight) {
    // Gone or not answering: told without asking its file system again.
    if (!sight.there()) {
        showArtists(false);
    } else if (artists_.empty() || musicFolderMissing_ ||
               !musicLocation_.whereLastSeen(srcPath(), mounted_)) {
        showArtists(canList(srcPath()));
    }
}

void AppModel::musicFolderLooked() {
    const std::string source = srcPath();
    // A look asked for before the last change says nothing of it: the next one will.
    if (!musicLocation_.current(source)) return;
    // Until the watch first looked, the folder's volume was judged by its
    // name; through a link it may lie elsewhere. The look that tells where
    // decides, also where it told nothing new of the folder itself.
    if (musicWatch_->lastLook().there() && musicLocation_.whereLastSeen(source, mounted_)) {
        if (musicFolderMissing_)
            showArtists(canList(source));
        else
            musicLocation_.note(source, mounted_);
    }
    decideWaiting();
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
    return !srcPath().empty() && !selected_.empty() && !musicFolderMissing_;
}

bool AppModel::canExport() const {
    if (!hasSelection()) return false;
    if (destPath().empty() || selectedProfile() == nullptr) return false;
    // Last, because it is the only test that touches the disk.
    return !destinationRefusal();
}

std::optional<std::string> AppModel::destinationRefusal() const {
    return ExportDestination::refusal(destPath(), volumes_);
}

void AppModel::recheckFolders() {
    followMusicFolder();
    emit destinationChecked();
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
