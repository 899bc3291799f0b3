#pragma once
// The "ライブラリ" menu's card cleaning: the user picks a card (or any folder),
// it is cleaned on a worker while the window waits modally under a busy sheet
// that counts how far it got, and an alert then says what was deleted and
// renamed. A quit asked meanwhile stops the cleaning between two items, and
// the program ends without the alert. Unlike the automatic cleaning it asks
// nothing of the run or the send window: it cleans what the user chose. The
// chooser, the busy sheet and the alert come in as functions, so the menu
// hands in the dialogs and tests answer them. GUI thread.
#include <QObject>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "App/Platform/GuiOutlet.hpp"
#include "Core/Platform/DetachedTask.hpp"
#include "Core/SDCard/CardCleaning.hpp"

namespace tarvik {

class AppModel;

// One cleaning of a chosen folder, on a worker of its own: how far it got,
// and what it did once it ended. Going, it stops the worker and waits for it,
// up to the program's ending deadline.
class InteractiveCleaning : public QObject {
    Q_OBJECT

public:
    // Starts at once; without a thread it has ended, having done nothing.
    explicit InteractiveCleaning(std::filesystem::path chosen, QObject* parent = nullptr);
    ~InteractiveCleaning() override;

    // Ends it between two items; what was done so far is its result.
    void stop();
    bool stopped() const { return stopped_; }
    bool running() const { return !result_; }
    // Items looked at so far, of how many found (0 of 0 while it walks the folder).
    std::int64_t done() const { return done_; }
    std::int64_t total() const { return total_; }
    // What it did, once it ended.
    const std::optional<SDCardTools::CleanResult>& result() const { return result_; }

signals:
    void progressed();
    void ended();

private:
    // How far the worker got, and whether a word of it is on its way here:
    // the worker tells each item, the window hears at most one at a time.
    struct Count {
        std::atomic<std::int64_t> done{0};
        std::atomic<std::int64_t> total{0};
        std::atomic<bool> posted{false};
    };

    GuiOutlet outlet_{this};
    std::shared_ptr<Count> count_ = std::make_shared<Count>();
    std::int64_t done_ = 0;
    std::int64_t total_ = 0;
    bool stopped_ = false;
    std::optional<SDCardTools::CleanResult> result_;
    std::shared_ptr<DetachedTask> worker_;
};

struct CleanDialogs {
    // Opens a folder chooser where it may open for `wanted` (FolderChooser),
    // and hands `chosen` the folder the user chose; nothing when the user
    // cancelled.
    std::function<void(const std::string& message, const std::filesystem::path& wanted,
                       std::function<void(const std::filesystem::path& chosen)> chosen)>
        chooseFolder;
    // Shows the busy sheet until `cleaning` ends, and returns then (or when
    // the program quits).
    std::function<void(InteractiveCleaning& cleaning)> waitFor;
    // An alert with one button, `informative` under `message`.
    std::function<void(const std::string& message, const std::string& informative)> inform;
};

// The chooser starts in the destination, or where the desktop mounts cards
// when there is none; the cleaning follows the choice. `started` is told of
// the cleaning once it runs, so that a quit may stop it.
void cleanCardInteractive(const AppModel& model, CleanDialogs dialogs,
                          std::function<void(InteractiveCleaning&)> started = {});

}  // namespace tarvik
