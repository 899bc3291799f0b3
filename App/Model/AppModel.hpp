#pragma once
// The one model of the application: the user's settings, the music folder and
// its selection, the destination and its volumes, the device profiles, the run
// state with its progress and log, and the bookkeeping of a running export.
// Every window reads it and calls its operations; it drives the core. It lives
// on the GUI thread for the life of the process; work it starts elsewhere
// hands its results back through queued calls that die with the model
// (GuiOutlet), so that nothing reaches a model that is gone. Nothing here asks
// a file system that may stop answering (the music folder, its artists'
// links, the cards, any mount): the music folder's watch and VolumeLooks ask
// on workers, and the model shows the last answer it has until the next one
// comes. Each observable member has a change signal; settings are written at
// once through `Settings`.
//
// The operations are grouped by concern, one source file each: start-up and
// observable state (AppModel.cpp), settings (AppModelSettings.cpp), device
// profiles (AppModelProfiles.cpp), library selection (AppModelSelection.cpp),
// the run log (AppModelLog.cpp), export control (AppModelExport.cpp), volumes
// and cards (AppModelVolumes.cpp), the folders' checks that the window, the
// start and the folder choosers wait for (AppModelChecks.cpp); where the
// music folder lies is MusicLocation's.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "App/Model/ChooserStarts.hpp"
#include "App/Model/EventPump.hpp"
#include "App/Model/MusicLocation.hpp"
#include "App/Model/OwnedTasks.hpp"
#include "App/Model/RunState.hpp"
#include "App/Model/VolumeLooks.hpp"
#include "App/Platform/DesktopSignals.hpp"
#include "App/Platform/FolderWatch.hpp"
#include "App/Platform/GuiOutlet.hpp"
#include "App/Platform/HangGuard.hpp"
#include "App/Platform/Settings.hpp"
#include "App/Platform/VolumeService.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Pipeline/ConversionEvent.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/LibraryScanner.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {

class MusicCatalog;

class AppModel : public QObject {
    Q_OBJECT

public:
    // What the model needs of the desktop and the machine. `standard()` gives the
    // real ones; tests hand in temporary settings, fixture volumes, recording
    // desktop signals and a stand-in converter.
    struct Services {
        std::unique_ptr<Settings> settings;
        // The older settings domain; null when it cannot be opened.
        std::function<std::unique_ptr<Settings>()> legacySettings;
        std::shared_ptr<VolumeService> volumes;
        std::shared_ptr<DesktopSignals> desktop;
        std::function<std::optional<std::filesystem::path>()> locateFFmpeg;
        // The desktop asks for reduced motion.
        std::function<bool()> systemLowLoad;
        // Calls its argument on the GUI thread whenever that request may have changed.
        std::function<void(std::function<void()>)> watchSystemLowLoad;
        // Empty: the real converter. Tests put an instant stand-in here.
        ConversionRunner::ConvertTrack convert;
        // Empty: the real planning pass. Benchmarks of the windows hand in a
        // generated plan here, so that they measure the window and not ffmpeg.
        std::function<ConversionPlan(const ConversionRunner&, const ProgressCallback&,
                                     std::stop_token)>
            planPass;
        // Where the desktop mounts cards; empty: AppPaths::mediaFolder. Tests
        // put a folder of their own here.
        std::function<std::filesystem::path()> mediaFolder;

        static Services standard();
    };

    static constexpr const char* defaultProfileId = "panasonic-hds940d";
    static constexpr std::size_t logLimit = 5000;

    explicit AppModel(Services services, QObject* parent = nullptr);
    ~AppModel() override;

    // Settings, each written at once and announced by its signal.
    std::string srcPath() const;
    void setSrcPath(const std::string& value);
    std::string destPath() const;
    void setDestPath(const std::string& value);
    std::string profileId() const;
    void setProfileId(const std::string& value);
    bool lookup() const;
    void setLookup(bool value);
    bool normalize() const;
    void setNormalize(bool value);
    double loudness() const;
    void setLoudness(double value);
    bool lowLoadManual() const;
    void setLowLoadManual(bool value);
    bool onboarded() const;
    void setOnboarded(bool value);
    bool skipReview() const;
    void setSkipReview(bool value);
    bool autoCleanSD() const;
    void setAutoCleanSD(bool value);
    std::string lastExportPath() const;
    void setLastExportPath(const std::string& value);
    std::string sendSource() const;
    void setSendSource(const std::string& value);
    // Hidden settings, set outside the program.
    std::optional<std::string> appearance() const;
    bool autoReview() const;
    bool autoSend() const;
    bool uiTesting() const;

    // Observable state.
    const std::set<std::string>& selected() const { return selected_; }
    void setSelected(std::set<std::string> value);  // persists and clears sourceNotice
    const std::vector<DeviceProfile>& profiles() const { return profiles_; }
    const std::vector<std::string>& artists() const { return artists_; }
    // The music folder is chosen but is not there to be read: deleted, on a
    // drive that is not there (its mount folder may be, empty), or on a file
    // system that stopped answering. Its ticks are kept for its return, but
    // nothing counts as selected meanwhile. Announced by artistsChanged.
    bool musicFolderMissing() const { return musicFolderMissing_; }
    // The music folder is not yet known to be there or not: it was just
    // chosen, or the program just started, and its first look has not ended.
    // Nothing counts as selected meanwhile. Announced by checkingChanged.
    bool musicFolderChecking() const { return musicFolderChecking_ || choosing_; }
    const std::vector<Volume>& volumes() const { return volumes_; }
    const std::string& search() const { return search_; }
    void setSearch(const std::string& value);
    const RunState& state() const { return state_; }
    const std::optional<ConversionPlan>& plan() const { return plan_; }
    const std::vector<std::pair<TrackMeta, TrackMeta>>& renamed() const { return renamed_; }
    const std::string& phaseText() const { return phaseText_; }
    const ConversionEvent::Progress& progress() const { return progress_; }
    const std::vector<LogLine>& log() const { return log_; }
    bool showLog() const { return showLog_; }
    void setShowLog(bool value);
    bool showSend() const { return showSend_; }
    void setShowSend(bool value);
    bool showAliases() const { return showAliases_; }
    void setShowAliases(bool value);
    const std::optional<std::string>& sourceNotice() const { return sourceNotice_; }
    const std::optional<std::string>& cleanNotice() const { return cleanNotice_; }
    void setCleanNotice(std::optional<std::string> value);
    // Why the last eject failed (the card stays the destination); the window
    // that shows it clears it.
    const std::optional<std::string>& ejectError() const { return ejectError_; }
    void setEjectError(std::optional<std::string> value);
    bool sendingToCard() const { return sendingToCard_; }
    // The send window copies onto `card` (empty: a card not known, which no
    // eject may take meanwhile).
    void setSendingToCard(bool value, std::filesystem::path card = {}) {
        sendingToCard_ = value;
        sendingCard_ = value ? std::move(card) : std::filesystem::path();
    }
    const std::set<std::string>& carryOver() const { return carryOver_; }
    void setCarryOver(std::set<std::string> value);
    bool continuing() const { return continuing_; }
    void setContinuing(bool value);
    const std::set<std::string>& writingFolders() const { return writingFolders_; }
    bool systemLowLoad() const { return systemLowLoad_; }
    bool isBusy() const { return state_.isBusy(); }
    bool lowLoad() const { return lowLoadManual() || systemLowLoad_; }

    // Device profiles.
    void loadProfiles();
    void saveProfile(const DeviceProfile& profile);  // throws the profile store's errors
    void deleteProfile(const DeviceProfile& profile);
    const DeviceProfile* selectedProfile() const;

    // Library selection.
    void chooseSource(const std::filesystem::path& folder);
    void reloadArtists();
    // The music folder may have gone or come back (its watch saw a change, a
    // volume was mounted or unmounted, a run ended, the window came back to the
    // front): its artists follow, and the watch is laid anew; a library still
    // listed stays as it is.
    void followMusicFolder();
    void persistSelected();
    std::vector<std::string> filteredArtists() const;
    bool hasSelection() const;
    // The destination's one check (ExportDestination), which the start button,
    // the card step and the run share: why a run may not write there, or nothing.
    bool canExport() const;
    std::optional<std::string> destinationRefusal() const;
    // The folders may have gone or come meanwhile (the window comes to the
    // front, the start button is pressed): the music folder and the
    // destination are asked about anew; the answers come later, and what is
    // shown meanwhile is the last one.
    void recheckFolders();
    // The start button: the folders are asked about anew and planning starts
    // once they answered, if the export may still go (`anyway`: whatever
    // they said, as the hidden "autoReview" starts it, failing where it must).
    // The window does not wait on them meanwhile (startWaits, announced by
    // checkingChanged).
    void startWhenChecked(bool anyway = false);
    bool startWaits() const { return startWaits_; }
    // A question to a file system is under way: the volumes, the destination,
    // the music folder's look, a chosen folder, or the start's checks.
    bool checkingFolders() const;
    bool destinationLooksLikeArtistFolder() const;
    // A folder chooser is asked for: `open` runs on the GUI thread with the
    // folder it is to open in, `wanted` or the home folder (ChooserStarts).
    void whereToChoose(const std::filesystem::path& wanted, ChooserStarts::Open open);
    // Where the desktop mounts cards: a chooser of a card starts there.
    std::filesystem::path mediaFolder() const;

    // Run log.
    void appendLog(LogLine::Kind kind, const std::string& text);
    void flushPendingLog();
    void startFlushTimer();
    void updateSystemLowLoad();

    // Export control.
    // Throws ConversionError. `aliasesNotice` receives the log line that says
    // the alias file could not be read and is not applied, if so.
    ConversionRunner makeRunner(bool dryRun, std::string* aliasesNotice = nullptr) const;
    std::shared_ptr<MusicCatalog> makeCatalog() const;
    void startPlanning();
    void startConversion();
    void handleEvent(const ConversionEvent& event);
    void folderDone(const std::string& folder);
    void cancel();
    void resetRun();

    // Volumes and cards.
    void refreshVolumes();
    void handleVolumeChange(const std::optional<std::filesystem::path>& mounted);
    void autoCleanIfNeeded(const std::filesystem::path& volume);
    void ejectCard();
    // Told on the GUI thread how an eject ended: the text the user reads when
    // it failed, nothing when the volume is out.
    using EjectDone = std::function<void(const std::optional<std::string>& failure)>;
    // Without `done` a failure goes to ejectError; with it, to `done` alone.
    void ejectVolume(const std::filesystem::path& volume, EjectDone done = {});
    // An eject of the volume is under way (announced by ejectingChanged): nothing
    // may start writing onto it.
    bool isEjecting(const std::filesystem::path& volume) const;
    // Whether the volume service takes the mounted volume for a card.
    bool isCardVolume(const std::filesystem::path& volume) const;
    // Whether the volume holds the music library (MusicDrive), by where the
    // music folder's watch last found it: the program never cleans it or picks
    // it by itself; the user may still choose it.
    bool holdsMusicLibrary(const std::filesystem::path& volume) const;
    void continueOnNextCard();
    // The volume whose path is canonically equal to destPath, first in list order.
    const Volume* destinationVolume() const;

signals:
    void srcPathChanged();
    void destPathChanged();
    void profileIdChanged();
    void settingsChanged();  // any other setting
    void selectedChanged();
    void profilesChanged();
    void artistsChanged();
    void volumesChanged();
    void destinationChecked();
    void searchChanged();
    void stateChanged();
    void planChanged();
    void renamedChanged();
    void phaseTextChanged();
    void progressChanged();
    // The log grows at its end by `count` lines, loses `count` lines at its front,
    // or is emptied: the log panel follows these without rebuilding.
    void logAppended(qsizetype count);
    void logTrimmed(qsizetype count);
    void logCleared();
    void showLogChanged();
    void showSendChanged();
    void showAliasesChanged();
    void sourceNoticeChanged();
    void cleanNoticeChanged();
    void ejectErrorChanged();
    void ejectingChanged();
    void carryOverChanged();
    void continuingChanged();
    void writingFoldersChanged();
    void systemLowLoadChanged();
    void checkingChanged();

private:
    friend struct AppModelTesting;  // tests put the model into states only a run reaches

    void setState(RunState value);
    void setPhaseText(std::string value);
    void setSourceNotice(std::optional<std::string> value);
    void importLegacySettings();
    std::optional<DeviceProfile> selectedProfileValue() const;
    // A failed run's message goes once the selected profile is no longer `before`.
    void forgetFailureUnless(const std::optional<DeviceProfile>& before);
    void clearLog();
    // Export control: the end of a planning pass (no plan: stopped, or the
    // error's text) and the finish steps of a run.
    void planningEnded(std::optional<ConversionPlan> plan, std::optional<std::string> error);
    void finishRun(ConversionEvent::Summary summary);
    // Library selection: what the music folder's watch found of it, a look
    // of it that ended, the artists shown as the last look found them, what a
    // chosen folder turned out to be, and an older version's music folder
    // found to be there.
    void musicFolderSeen(const FolderWatch::Sight& sight);
    void musicFolderLooked();
    void showArtists();
    void chosen(const std::filesystem::path& folder, std::uint64_t number,
                const LibraryScanner::Level& level);
    void adoptLegacySource(const std::string& folder);
    // The music folder's listing, on its watch's worker.
    static std::optional<std::vector<std::string>> artistsIn(const std::filesystem::path& folder);
    // Volumes: the list and the destination's check asked anew and applied
    // as answered, the choice of the only removable volume as the
    // destination, and what waited for the volumes and the music folder's
    // places to stand as they are now.
    void askVolumes();
    void volumesAnswered(VolumeLooks::Answer answer);
    void pickDestination();
    void decideWaiting();
    // Checks: the last look of the music folder tells it as it stands now,
    // or no look answers; the start that waited for the checks goes on.
    bool musicFolderDecided() const;
    // The destination's check missed its deadline and its answer is still to come.
    bool destinationAwaited() const;
    void proceedIfChecked();
    // A run or planning pass whose music folder stopped answering ends as
    // one whose folder went, with what it reported so far.
    void haltForUnansweredMusicFolder();
    // What a worker hands its results back through: the function it gets
    // runs `apply` on the GUI thread while the model lives. A worker keeps
    // it, not the model: it stays safe to call after the model went.
    using Poster = std::function<void(std::function<void(AppModel&)> apply)>;
    Poster poster();

    Services services_;

    std::set<std::string> selected_;
    std::vector<DeviceProfile> profiles_;
    std::set<std::filesystem::path> reportedSetAside_;  // profile files the log named
    std::vector<std::string> artists_;
    bool musicFolderMissing_ = false;
    bool musicFolderChecking_ = false;
    // Works for the model's workers: their results die with the model.
    GuiOutlet outlet_{this};
    // Questions about one folder that may not answer: what a chosen folder
    // is, whether an older version's music folder is there.
    HangGuard folderQuestions_{std::chrono::seconds(2)};
    // Where each folder chooser opens.
    ChooserStarts chooserStarts_{outlet_};
    // Watches the music folder for as long as the model lives, whatever runs
    // come and go: each reload and each follow point it at srcPath again.
    // Each look lists its artists.
    std::unique_ptr<FolderWatch> musicWatch_ = std::make_unique<FolderWatch>(
        [this](const FolderWatch::Sight& sight) { musicFolderSeen(sight); }, FolderWatch::Timing{},
        &AppModel::artistsIn);
    MusicLocation musicLocation_{*services_.settings, *musicWatch_};
    // The folder the user chose is being looked at (the latest of `choices_`).
    bool choosing_ = false;
    std::uint64_t choices_ = 0;
    // Chosen by hand: the next look's folder is the music folder wherever it sits.
    bool chosenByHand_ = false;
    bool adoptingLegacy_ = false;  // an older version's music folder is being looked at
    bool startWaits_ = false;
    bool startAnyway_ = false;
    std::vector<Volume> volumes_;
    std::vector<VolumeService::Mounted> mounted_;  // the facts volumes_ was built from
    bool volumesListed_ = false;                   // volumes_ is what a listing answered
    // A refresh asked for the listing under way: its answer keeps the
    // destination valid and may pick the only card.
    bool refreshAsked_ = false;
    VolumeLooks::Destination destination_;  // the last answer about a destination
    std::unique_ptr<VolumeLooks> volumeLooks_;
    // A mount is decided on by the places the music folder's watch finds after
    // it (an artist linked onto the fresh volume): the destination's own
    // choice and the cleaning of these fresh volumes wait for that look.
    bool pickWaits_ = false;
    std::vector<std::filesystem::path> cleaningWaits_;
    std::string search_;
    RunState state_;
    std::optional<ConversionPlan> plan_;
    std::vector<std::pair<TrackMeta, TrackMeta>> renamed_;
    std::string phaseText_;
    ConversionEvent::Progress progress_;
    std::vector<LogLine> log_;
    bool showLog_ = false;
    bool showSend_ = false;
    bool showAliases_ = false;
    std::optional<std::string> sourceNotice_;
    std::optional<std::string> cleanNotice_;
    std::optional<std::string> ejectError_;
    // Volumes whose eject is under way, with whoever waits for its end.
    std::map<std::filesystem::path, std::vector<EjectDone>> ejecting_;
    bool sendingToCard_ = false;
    std::filesystem::path sendingCard_;
    std::set<std::string> carryOver_;
    bool continuing_ = false;
    std::set<std::string> writingFolders_;
    std::map<std::string, std::int64_t> remainingByFolder_;
    std::map<std::string, std::string> folderBySource_;
    bool runToCard_ = false;  // the running export writes onto a listed card
    bool systemLowLoad_ = false;
    std::optional<ConversionRunner::Handle> handle_;
    std::unique_ptr<DesktopSignals::Inhibitor> activity_;
    std::vector<LogLine> pendingLog_;
    QTimer* flushTimer_ = nullptr;
    std::shared_ptr<DetachedTask> cancelTask_;  // the planning pass
    // The card's cleaning and ejecting, the older catalogue's import: stopped
    // and waited for when the model goes. Mutable because building a catalogue,
    // a const operation, starts the import.
    mutable OwnedTasks tasks_;
    // Last, so that it goes first: the workers of a pass stop before the rest.
    EventPump events_{this, [this](const ConversionEvent& event) { handleEvent(event); }};
};

}  // namespace tarvik
