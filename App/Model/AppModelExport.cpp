// Export control, the GUI thread's half: building the runner from the
// settings, the planning pass, starting a run, cancelling and resetting. The
// runner works on threads of its own; what it reports comes back through the
// model's EventPump, and the events are applied in AppModelEvents.cpp.
#include <exception>
#include <system_error>

#include "App/Model/AppModel.hpp"
#include "App/Model/ExportDestination.hpp"
#include "App/Model/ExportTexts.hpp"
#include "App/Platform/AppPaths.hpp"
#include "Core/Catalog/CatalogCache.hpp"
#include "Core/Catalog/ITunesCatalog.hpp"
#include "Core/Naming/ArtistAliases.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik {

namespace {

namespace fs = std::filesystem;

// The legacy cache goes into the new one once, beside the run; the run never
// waits for it and nothing is lost when it fails (the file stays). Without a
// thread for it, the import is tried again with the next catalogue.
void importLegacyCatalog(std::shared_ptr<CatalogCache> cache, OwnedTasks& tasks) {
    const fs::path legacy = AppPaths::legacyCatalogCacheFile();
    tasks.tryStart([cache = std::move(cache), legacy](std::stop_token stop) {
        try {
            std::error_code error;
            if (cache->count() == 0 && fs::exists(legacy, error))
                cache->importLegacy(legacy, true, stop);
        } catch (const std::exception&) {
            // An unreadable old cache is simply not taken over.
        }
    });
}

}  // namespace

ConversionRunner AppModel::makeRunner(bool dryRun, std::string* aliasesNotice) const {
    const std::optional<fs::path> ffmpeg =
        services_.locateFFmpeg ? services_.locateFFmpeg() : std::nullopt;
    if (!ffmpeg) throw ConversionError(std::string(ExportTexts::noFFmpeg));
    const DeviceProfile* profile = selectedProfile();
    if (profile == nullptr) throw ConversionError(std::string(ExportTexts::noProfile));
    // As its watch last found it (the start asks it anew first): planning or
    // converting from a folder that went or does not answer would only fail
    // song by song.
    if (!srcPath().empty() && (musicFolderMissing_ || musicFolderChecking_)) {
        throw ConversionError(std::string(ConversionRunner::musicFolderLostMessage));
    }

    // The dry run writes nothing, so any folder does as its destination; a
    // real run goes only where the user pointed it and that is still there.
    // A destination whose check has not answered is not refused here: the
    // run finds it gone on its own thread, not on this one.
    std::string destination = destPath();
    if (dryRun) {
        if (destination.empty()) destination = "/tmp";
    } else if (std::optional<std::string> why = destinationRefusal();
               why && *why != ExportDestination::checking) {
        throw ConversionError(std::move(*why));
    }

    RunOptions options;
    // Read once: what the run applies and what the log says come from the same bytes.
    ArtistAliases::Reading aliases = ArtistAliases::read(AppPaths::aliasesFile());
    options.aliases = std::move(aliases.aliases);
    if (aliases.problem && aliasesNotice != nullptr) {
        *aliasesNotice = ExportTexts::aliasesNotApplied(AppPaths::aliasesFile(), *aliases.problem);
    }
    if (continuing_) options.exclude = carryOver_;
    options.loudnessTarget = normalize() ? std::optional<double>(loudness()) : std::nullopt;
    options.dryRun = dryRun;
    std::shared_ptr<MusicCatalog> catalog = lookup() ? makeCatalog() : nullptr;
    return ConversionRunner{*ffmpeg,   *profile, fs::path(srcPath()), fs::path(destination),
                            selected_, options,  std::move(catalog)};
}

std::shared_ptr<MusicCatalog> AppModel::makeCatalog() const {
    auto cache = std::make_shared<CatalogCache>(AppPaths::catalogCacheFile());
    importLegacyCatalog(cache, tasks_);
    auto catalog = std::make_shared<ITunesCatalog>(cache);
    // Notices come from the asking thread; they join the events of the pass
    // that is under way, which carries them here in order.
    catalog->setOnNotice([pass = events_.currentPass()](const std::string& text) {
        pass.send(ConversionEvent::notice(text));
    });
    return catalog;
}

void AppModel::startPlanning() {
    if (isBusy()) return;
    clearLog();
    renamed_.clear();
    emit renamedChanged();
    plan_.reset();
    emit planChanged();
    setState(RunState::planning());
    setPhaseText(std::string(ExportTexts::searching));

    // Begun before the runner is made, so that the catalogue's notices belong to it.
    const EventPump::Pass pass = events_.beginPass();
    try {
        std::string aliasesNotice;
        ConversionRunner runner = makeRunner(true, &aliasesNotice);
        if (!aliasesNotice.empty()) appendLog(LogLine::Kind::notice, aliasesNotice);
        // The pump runs the closing step on this thread and only while the
        // model lives, so the step may use the model directly.
        AppModel* model = this;
        cancelTask_ = DetachedTask::start([runner = std::move(runner), pass, model,
                                           planPass = services_.planPass](std::stop_token stop) {
            std::optional<ConversionPlan> plan;
            std::optional<std::string> error;
            try {
                const ProgressCallback progress = [&pass](const ConversionEvent& event) {
                    pass.send(event);
                };
                plan = planPass ? planPass(runner, progress, stop) : runner.plan(progress, stop);
            } catch (const Cancelled&) {
            } catch (const std::exception& failure) {
                error = failure.what();
            }
            pass.then([model, plan = std::move(plan), error = std::move(error)]() mutable {
                model->planningEnded(std::move(plan), std::move(error));
            });
        });
        events_.keep(cancelTask_);
    } catch (const std::exception& failure) {
        planningEnded(std::nullopt, std::string(failure.what()));
    }
}

void AppModel::planningEnded(std::optional<ConversionPlan> plan, std::optional<std::string> error) {
    // A stop that came after the pass had its plan still counts: the user
    // asked for no review and no run.
    const bool stopped = cancelTask_ && cancelTask_->isCancelled();
    cancelTask_.reset();
    if (plan && !stopped) {
        plan_ = std::move(plan);
        emit planChanged();
        setPhaseText("");
        if (skipReview() && !plan_->items.empty()) {
            startConversion();
        } else {
            setState(RunState::reviewing());
        }
        return;
    }
    setState(error && !stopped ? RunState::failed(*error) : RunState::idle());
}

void AppModel::startConversion() {
    if (state_.is(RunState::Case::running)) return;
    const EventPump::Pass pass = events_.beginPass();
    std::optional<ConversionRunner> runner;
    std::string aliasesNotice;
    try {
        runner.emplace(makeRunner(false, &aliasesNotice));
    } catch (const std::exception& failure) {
        setState(RunState::failed(failure.what()));
        return;
    }

    clearLog();
    if (!aliasesNotice.empty()) appendLog(LogLine::Kind::notice, aliasesNotice);
    progress_ = {};
    progress_.total = plan_ ? static_cast<std::int64_t>(plan_->items.size()) : 0;
    emit progressChanged();
    setState(RunState::running());
    setPhaseText(std::string(ExportTexts::preparing));
    if (!uiTesting() && services_.desktop) {
        activity_ = services_.desktop->inhibitSleep(std::string(ExportTexts::activityReason));
    }

    remainingByFolder_.clear();
    folderBySource_.clear();
    writingFolders_.clear();
    if (plan_) {
        // Items come album by album: the composed form of a folder is worked
        // out once per run of items in it, which keeps a large plan quick.
        std::string_view parent;
        std::string key;
        for (const ConversionPlan::Item& item : plan_->items) {
            const std::string_view path = item.relativePath;
            const std::string_view itemParent = path.substr(0, path.rfind('/') + 1);
            if (key.empty() || itemParent != parent) {
                parent = itemParent;
                key = ExportTexts::folderKey(path);
            }
            ++remainingByFolder_[key];
            folderBySource_[item.source.string()] = key;
        }
    }
    for (const auto& entry : remainingByFolder_)
        writingFolders_.insert(writingFolders_.end(), entry.first);
    emit writingFoldersChanged();
    // Taken now: a card pulled during the run is no longer listed at its end.
    runToCard_ = destinationVolume() != nullptr;
    // A settings write waits for the disk: only a change is written.
    if (const std::string dest = destPath();
        !dest.empty() && !runToCard_ && lastExportPath() != dest) {
        setLastExportPath(dest);
    }

    try {
        ConversionRunner::Handle handle = runner->start(plan_, services_.convert);
        events_.keep(handle.task);
        // The reader owns the only reader of the run's events: when it goes,
        // the run is asked to stop.
        events_.keep(DetachedTask::start(
            [events = std::move(handle.events), pass](std::stop_token stop) mutable {
                try {
                    while (std::optional<ConversionEvent> event = events.next(stop)) {
                        pass.send(std::move(*event));
                    }
                } catch (const Cancelled&) {
                }
            }));
        handle_ = std::move(handle);
    } catch (const std::system_error& failure) {
        // No thread for the run or its reader: a run that did start stops as
        // soon as its events lose their reader, and nothing waits for it.
        activity_.reset();
        remainingByFolder_.clear();
        folderBySource_.clear();
        writingFolders_.clear();
        emit writingFoldersChanged();
        setState(RunState::failed(failure.what()));
        return;
    }
    if (lowLoad()) startFlushTimer();
}

void AppModel::cancel() {
    if (handle_) handle_->cancel();
    if (cancelTask_) cancelTask_->cancel();
    setPhaseText(std::string(ExportTexts::stopping));
}

void AppModel::resetRun() {
    // A pass under way ends by itself; dropping its state here would leave a
    // run writing with nobody reading it.
    if (state_.is(RunState::Case::planning) || state_.is(RunState::Case::running)) return;
    setState(RunState::idle());
    plan_.reset();
    emit planChanged();
    setPhaseText("");
}

}  // namespace tarvik
