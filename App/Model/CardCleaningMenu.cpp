#include "App/Model/CardCleaningMenu.hpp"

#include <system_error>

#include "App/Model/AppModel.hpp"
#include "App/Model/VolumeList.hpp"

namespace tarvik {

InteractiveCleaning::InteractiveCleaning(std::filesystem::path chosen, QObject* parent)
    : QObject(parent) {
    auto work = [outlet = outlet_, count = count_, chosen = std::move(chosen),
                 this](std::stop_token stop) {
        // Which form of the name is the folder asks its file system: here too.
        const std::filesystem::path root = interactiveCleanRoot(chosen);
        const SDCardTools::CleanProgress progress = [&](std::int64_t done, std::int64_t total) {
            count->done = done;
            count->total = total;
            if (count->posted.exchange(true)) return;
            outlet.post([this, count] {
                count->posted = false;
                done_ = count->done;
                total_ = count->total;
                emit progressed();
            });
        };
        SDCardTools::CleanResult result = SDCardTools::clean(root, progress, stop);
        outlet.post([this, result = std::move(result)]() mutable {
            result_ = std::move(result);
            emit ended();
        });
    };
    try {
        worker_ = DetachedTask::start(std::move(work));
    } catch (const std::system_error&) {
        result_ = SDCardTools::CleanResult{};
    }
}

InteractiveCleaning::~InteractiveCleaning() {
    outlet_.close();
    if (!worker_) return;
    // Only a quit gets here before the end: the cleaning stops between two
    // items at once, unless the card itself does not answer, and then it is
    // left to end with the program.
    worker_->cancel();
    worker_->waitFor(std::chrono::milliseconds(800));
}

void InteractiveCleaning::stop() {
    stopped_ = true;
    if (worker_) worker_->cancel();
}

void cleanCardInteractive(const AppModel& model, CleanDialogs dialogs,
                          std::function<void(InteractiveCleaning&)> started) {
    const std::string dest = model.destPath();
    // A copy: `dialogs` go with the choice, into the function called.
    const auto choose = dialogs.chooseFolder;
    choose(
        "掃除する SD カード（またはフォルダ）を選んでください。"
        "「._名前」「.DS_Store」を消し、カーナビが読めない名前を直します",
        dest.empty() ? model.mediaFolder() : std::filesystem::path(dest),
        [dialogs = std::move(dialogs),
         started = std::move(started)](const std::filesystem::path& chosen) {
            if (chosen.empty()) return;
            InteractiveCleaning cleaning(chosen);
            if (started) started(cleaning);
            if (cleaning.running()) dialogs.waitFor(cleaning);
            // Stopped by a quit: the program ends, and says nothing more.
            if (cleaning.stopped() || !cleaning.result()) return;
            dialogs.inform("掃除しました", cleanAlertText(*cleaning.result()));
        });
}

}  // namespace tarvik
