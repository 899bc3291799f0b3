// The send window's fields and the values derived from them, the source
// folder and its album list, the card and its on-card marks, and the ticks.
// Sending, drops and ejecting are in SendToSDSending.cpp.
#include "App/Windows/SendToSDState.hpp"

#include <utility>

#include "App/Model/AppModel.hpp"
#include "App/Platform/FolderAnswers.hpp"
#include "App/Windows/SendToSDWorkers.hpp"
#include "Core/Naming/PosixFS.hpp"

namespace tarvik {

SendToSDState::Tools SendToSDState::Tools::standard() {
    return Tools{
        // The core's scan reads one folder at a time and can't be stopped midway.
        .exportedAlbums = [](const std::vector<std::filesystem::path>& folders,
                             std::stop_token) { return SDCardTools::exportedAlbums(folders); },
        .isOnCard =
            [](const Album& album, const std::filesystem::path& cardRoot,
               const std::set<std::string>& shared, std::stop_token stop) {
                return SDCardTools::isOnCard(album, cardRoot, shared, std::move(stop));
            },
        .send =
            [](const std::vector<Album>& albums, const std::filesystem::path& cardRoot,
               const SDCardTools::SendProgress& progress, std::stop_token stop) {
                return SDCardTools::send(albums, cardRoot, progress, std::move(stop));
            },
    };
}

SendToSDState::SendToSDState(AppModel& model, Tools tools, QObject* parent)
    : QObject(parent),
      model_(model),
      tools_(std::move(tools)),
      source_(model.sendSource()),
      workers_(std::make_unique<Workers>(this)) {
    connect(&model_, &AppModel::volumesChanged, this, &SendToSDState::volumesChanged);
    connect(&model_, &AppModel::writingFoldersChanged, this, &SendToSDState::writingFoldersChanged);
    connect(&model_, &AppModel::ejectingChanged, this, &SendToSDState::changed);
}

SendToSDState::~SendToSDState() {
    const bool wasSending = sending();
    workers_.reset();
    // The copy has stopped, but its result will never be applied.
    if (wasSending) model_.setSendingToCard(false);
}

bool SendToSDState::sending() const {
    return std::holds_alternative<SendContent::Sending>(phase_);
}

bool SendToSDState::ejecting() const {
    if (ejecting_) return true;
    const std::optional<Volume> card = selectedCard();
    return card && model_.isEjecting(card->url);
}

std::vector<Volume> SendToSDState::cards() const {
    std::vector<Volume> result;
    for (const Volume& volume : model_.volumes()) {
        if (model_.isCardVolume(volume.url)) result.push_back(volume);
    }
    return result;
}

std::string SendToSDState::cardOfItsOwn() const {
    for (const Volume& card : cards())
        if (!model_.holdsMusicLibrary(card.url)) return card.url.native();
    return {};
}

std::optional<Volume> SendToSDState::selectedCard() const {
    return SendContent::selectedCard(cards(), cardPath_);
}

std::set<std::string> SendToSDState::busyFolders() const {
    return SendContent::busyFolders(source_, modelFacts());
}

bool SendToSDState::sourceIsMusicLibrary() const {
    return SendContent::sourceIsMusicLibrary(source_, model_.srcPath());
}

std::string SendToSDState::suggestedSource() const {
    const bool there = lastExportThere_ && lastExportSeen_ == model_.lastExportPath();
    return SendContent::suggestedSource(modelFacts(), there);
}

SendContent::ModelFacts SendToSDState::modelFacts() const {
    return SendContent::ModelFacts{
        .srcPath = model_.srcPath(),
        .destPath = model_.destPath(),
        .lastExportPath = model_.lastExportPath(),
        .volumes = model_.volumes(),
        .writingFolders = model_.writingFolders(),
    };
}

void SendToSDState::onAppear() {
    onScreen_ = true;
    missedWhileHidden_ = false;  // everything is read again below
    if (cardPath_.empty()) setCardPath(cardOfItsOwn());
    // Neither the last list nor "no albums" while the source is asked about.
    loading_ = true;
    const ResultOrder::Ticket ticket = workers_->looks.start();
    look([ticket](SendToSDState& state, const Look& found) {
        // A source chosen meanwhile is the user's.
        if (!state.workers_->looks.accept(ticket)) return;
        // A source whose file system did not answer may only be slow: it is
        // kept, and listed once it answers.
        if (state.source_.empty() || found.sourceThere == false || state.sourceIsMusicLibrary())
            state.storeSource(state.suggestedSource());
        state.reload(false);
    });
    emit changed();
}

void SendToSDState::look(std::function<void(SendToSDState&, const Look&)> then) {
    QPointer<SendToSDState> self(this);
    auto work = [self, guard = workers_->guard, source = source_, last = model_.lastExportPath(),
                 then](std::stop_token stop) {
        const auto there = [&](const std::string& path) -> std::optional<bool> {
            if (path.empty()) return false;
            return guard.ask<bool>(
                path, [path] { return FolderAnswers::there(path); }, stop);
        };
        Look found{.sourceThere = there(source), .lastExportThere = there(last)};
        if (stop.stop_requested()) return;  // the window is going
        onState(self, [found = std::move(found), last, then](SendToSDState& state) {
            // Unanswered, the last answer stands.
            if (found.lastExportThere) {
                state.lastExportSeen_ = last;
                state.lastExportThere_ = *found.lastExportThere;
            }
            then(state, found);
        });
    };
    // No thread to be had: nothing is known anew.
    if (!workers_->tasks.tryStart(std::move(work)))
        onState(self, [then = std::move(then)](SendToSDState& state) {
            then(state, Look{.sourceThere = {}, .lastExportThere = {}});
        });
}

void SendToSDState::storeSource(const std::string& path) {
    if (path != source_) {
        workers_->scans.invalidate();
        workers_->looks.invalidate();
    }
    source_ = path;
    model_.setSendSource(path);
}

void SendToSDState::reload(bool quiet) {
    if (source_.empty() || sourceIsMusicLibrary()) {
        workers_->scans.settle();
        loading_ = false;  // a scan still on its way will not be applied
        if (!albums_.empty()) workers_->marks.invalidate();
        albums_.clear();
        emit changed();
        return;
    }
    // A hidden window follows the export when it is seen again.
    if (quiet && !onScreen_) {
        missedWhileHidden_ = true;
        return;
    }
    if (!quiet) loading_ = true;
    workers_->scanning.request([this](std::uint64_t run) { return startScan(run); });
    emit changed();
}

std::shared_ptr<DetachedTask> SendToSDState::startScan(std::uint64_t run) {
    const ResultOrder::Ticket ticket = workers_->scans.start();
    QPointer<SendToSDState> self(this);
    std::shared_ptr<DetachedTask> task = workers_->tasks.tryStart(
        [self, run, ticket, source = source_, scan = tools_.exportedAlbums](std::stop_token stop) {
            // A source stored in another normalisation still names its folder.
            const std::filesystem::path composed = PosixFS::nfc(source);
            const std::filesystem::path folder =
                PosixFS::isDirectory(composed) ? composed : std::filesystem::path(source);
            std::optional<std::vector<Album>> albums = scan({folder}, stop);
            // A superseded scan tells only its end.
            if (stop.stop_requested()) albums.reset();
            onState(self, [run, ticket, albums = std::move(albums)](SendToSDState& state) mutable {
                state.workers_->scanning.ended(run);
                if (albums && state.workers_->scans.accept(ticket))
                    state.applyAlbums(std::move(*albums));
            });
        });
    if (!task) loading_ = false;
    return task;
}

void SendToSDState::applyAlbums(std::vector<Album> albums) {
    albums_ = std::move(albums);
    loading_ = false;
    workers_->marks.invalidate();
    std::set<std::string> listed;
    for (const Album& album : albums_) listed.insert(album.id());
    std::erase_if(picked_, [&](const std::string& id) { return !listed.contains(id); });
    refreshOnCard();
    emit changed();
}

void SendToSDState::refreshOnCard() {
    if (!selectedCard()) {
        workers_->marks.settle();
        onCard_.clear();
        emit changed();
        return;
    }
    if (!onScreen_) {
        missedWhileHidden_ = true;
        return;
    }
    workers_->marking.request([this](std::uint64_t run) { return startMarks(run); });
}

std::shared_ptr<DetachedTask> SendToSDState::startMarks(std::uint64_t run) {
    const std::optional<Volume> card = selectedCard();
    if (!card) return nullptr;  // gone while the one before ran: nothing to mark
    const ResultOrder::Ticket ticket = workers_->marks.start();
    QPointer<SendToSDState> self(this);
    return workers_->tasks.tryStart([self, run, ticket, albums = albums_, root = card->url,
                                     check = tools_.isOnCard](std::stop_token stop) {
        const std::set<std::string> shared = SDCardTools::sharedCardPaths(albums);
        std::optional<std::set<std::string>> found(std::in_place);
        for (const Album& album : albums) {
            // A check the stop cut short says nothing: no marks at all then.
            const bool on = !stop.stop_requested() && check(album, root, shared, stop);
            if (stop.stop_requested()) {
                found.reset();
                break;
            }
            if (on) found->insert(album.id());
        }
        onState(self, [run, ticket, found = std::move(found)](SendToSDState& state) mutable {
            state.workers_->marking.ended(run);
            if (!found || !state.workers_->marks.accept(ticket)) return;
            state.onCard_ = std::move(*found);
            emit state.changed();
        });
    });
}

void SendToSDState::setOnScreen(bool on) {
    onScreen_ = on;
    if (!on || !missedWhileHidden_) return;
    missedWhileHidden_ = false;
    if (std::holds_alternative<SendContent::Choosing>(phase_)) {
        reload(true);  // the marks follow the list
    } else {
        refreshOnCard();
    }
}

void SendToSDState::volumesChanged() {
    if (!selectedCard()) {
        const std::string first = cardOfItsOwn();
        if (first != cardPath_) {
            setCardPath(first);  // refreshes the marks
            return;
        }
    }
    refreshOnCard();
    emit changed();
}

void SendToSDState::writingFoldersChanged() {
    if (std::holds_alternative<SendContent::Choosing>(phase_)) {
        reload(true);
    } else {
        emit changed();  // the busy folders changed
    }
}

void SendToSDState::setSource(const std::string& path) {
    storeSource(path);
    reload(false);
}

void SendToSDState::useSuggestedSource() {
    const ResultOrder::Ticket ticket = workers_->looks.start();
    look([ticket](SendToSDState& state, const Look&) {
        if (state.workers_->looks.accept(ticket)) state.setSource(state.suggestedSource());
    });
}

void SendToSDState::setCardPath(const std::string& path) {
    if (path == cardPath_) return;
    cardPath_ = path;
    workers_->marks.invalidate();
    refreshOnCard();
    emit changed();
}

void SendToSDState::setFilter(const std::string& text) {
    filter_ = text;
    emit changed();
}

void SendToSDState::setAlbumPicked(const std::string& relativePath, bool on) {
    if (on) {
        picked_.insert(relativePath);
    } else {
        picked_.erase(relativePath);
    }
    emit changed();
}

void SendToSDState::setArtistPicked(const SendContent::ArtistGroup& group, bool on) {
    SendContent::setArtistTicked(group, on, picked_, busyFolders());
    emit changed();
}

void SendToSDState::pickAllNotOnCard() {
    picked_ = SendContent::pickAllNotOnCard(SendContent::filteredAlbums(albums_, filter_), onCard_,
                                            busyFolders());
    emit changed();
}

void SendToSDState::clearPicked() {
    picked_.clear();
    emit changed();
}

}  // namespace tarvik
