#pragma once
// The send window's state and operations: the export folder it lists (kept in
// the "sendSource" setting), its albums, the ticks, the chosen card and its
// on-card marks, the page shown, and the copy onto the card. The widgets read
// it and forward intents; they never touch the file system themselves.
// Owned by the send window, GUI thread only; whatever asks a folder or a card
// (whether the source is there, scans, on-card checks, the copy) runs on its
// own worker threads, which are stopped and joined when it goes, since any
// of them may lie on a file system that stops answering. Scan and on-card
// results carry a generation number: one that arrives after the source, the
// card or the album list changed is dropped; a scan or check asked for while
// one runs stops that one and follows it.
#include <QObject>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "App/Model/RunState.hpp"
#include "App/Windows/SendContent.hpp"
#include "Core/SDCard/CardSending.hpp"
#include "Core/SDCard/ExportedAlbums.hpp"

namespace tarvik {

class AppModel;
class DetachedTask;

class SendToSDState : public QObject {
    Q_OBJECT

public:
    using Album = SDCardTools::Album;

    // The card tools, replaceable so that tests can make a scan wait or a
    // card seem smaller. The defaults call the core's SDCardTools.
    struct Tools {
        std::function<std::vector<Album>(const std::vector<std::filesystem::path>& folders,
                                         std::stop_token stop)>
            exportedAlbums;
        std::function<bool(const Album& album, const std::filesystem::path& cardRoot,
                           const std::set<std::string>& shared, std::stop_token stop)>
            isOnCard;
        std::function<SDCardTools::SendResult(
            const std::vector<Album>& albums, const std::filesystem::path& cardRoot,
            const SDCardTools::SendProgress& progress, std::stop_token stop)>
            send;
        static Tools standard();
    };

    explicit SendToSDState(AppModel& model, Tools tools = Tools::standard(),
                           QObject* parent = nullptr);
    ~SendToSDState() override;  // stops the workers and waits for them

    AppModel& model() const { return model_; }

    // Fields.
    const std::string& source() const { return source_; }
    const std::vector<Album>& albums() const { return albums_; }
    const std::set<std::string>& onCard() const { return onCard_; }
    const std::set<std::string>& picked() const { return picked_; }
    const std::string& cardPath() const { return cardPath_; }
    const std::string& filter() const { return filter_; }
    const SendContent::Phase& phase() const { return phase_; }
    bool loading() const { return loading_; }
    bool sending() const;
    // The card is being ejected, by "SD カードを取り出す" or by the main
    // window: nothing is sent until it ends.
    bool ejecting() const;
    // Why the last eject of the card failed; the window stays open with it.
    const std::optional<std::string>& ejectError() const { return ejectError_; }

    // Derived values, computed afresh on each call.
    std::vector<Volume> cards() const;
    std::optional<Volume> selectedCard() const;
    std::set<std::string> busyFolders() const;
    bool sourceIsMusicLibrary() const;
    std::string suggestedSource() const;
    SendContent::ModelFacts modelFacts() const;

    // The card the window picks by itself: the first that does not hold the
    // music library (that drive is chosen only by hand); empty when none.
    std::string cardOfItsOwn() const;

    // The window came on screen: picks a card, and once a worker has found
    // whether the source is still there, repairs it and reloads; the list
    // shows as loading meanwhile.
    void onAppear();
    void reload(bool quiet);
    void refreshOnCard();
    // The model's volume list changed: a card that went is replaced by the one
    // the window picks by itself.
    void volumesChanged();
    // A running export finished a folder: the choosing page's list follows quietly.
    void writingFoldersChanged();
    // Whether the window is seen. A hidden window rescans nothing; what it
    // missed is read again when it is seen again.
    void setOnScreen(bool on);

    // Choosing page.
    void setSource(const std::string& path);  // stores it and reloads (not quiet)
    // Asks anew whether the last export folder is there, then takes the suggestion.
    void useSuggestedSource();
    void setCardPath(const std::string& path);  // refreshes the marks
    void setFilter(const std::string& text);
    void setAlbumPicked(const std::string& relativePath, bool on);
    void setArtistPicked(const SendContent::ArtistGroup& group, bool on);
    void pickAllNotOnCard();
    void clearPicked();

    // Local folders dropped on the window. False (refused) while a send runs
    // or the folders of the last drop are still being looked through.
    bool handleDrop(const std::vector<std::filesystem::path>& paths);

    // Copies the albums onto the selected card on a worker; does nothing
    // without a card or while a send runs.
    void send(const std::vector<Album>& albums);
    void cancelSend();
    void backToChoosing();     // "戻る"
    void continueChoosing();   // "続けて選ぶ": empties the ticks, refreshes the marks
    void ejectCardAndClose();  // closes only once the card is really out

signals:
    void changed();         // any field or derived value may have changed: redraw
    void closeRequested();  // the window should close

private:
    // What a worker found of the folders the window names; nothing where a
    // file system did not answer by the deadline.
    struct Look {
        std::optional<bool> sourceThere;
        std::optional<bool> lastExportThere;
    };
    // Asks on a worker about the source and the last export folder, learns
    // the answer, then runs `then` on the GUI thread.
    void look(std::function<void(SendToSDState&, const Look&)> then);
    void storeSource(const std::string& path);
    std::shared_ptr<DetachedTask> startScan(std::uint64_t run);
    std::shared_ptr<DetachedTask> startMarks(std::uint64_t run);
    void applyAlbums(std::vector<Album> albums);
    void showProgress(SendContent::Sending progress);
    void endSend(SendContent::Phase phase);

    // Defined in SendToSDState.cpp.
    AppModel& model_;
    Tools tools_;
    std::string source_;
    std::vector<Album> albums_;
    std::set<std::string> onCard_;
    std::set<std::string> picked_;
    std::string cardPath_;
    std::string filter_;
    SendContent::Phase phase_ = SendContent::Choosing{};
    bool loading_ = false;
    bool onScreen_ = true;
    bool missedWhileHidden_ = false;
    bool ejecting_ = false;
    // The last export folder as last found: the suggestion reads it, never the folder.
    std::string lastExportSeen_;
    bool lastExportThere_ = false;
    std::optional<std::string> ejectError_;
    struct Workers;
    std::unique_ptr<Workers> workers_;
};

}  // namespace tarvik
