#include "Core/Tidy/TidyApplier.hpp"

#include <cerrno>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Sha256.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Tidy/TidyApplyRun.hpp"
#include "Core/Tidy/TidyFileState.hpp"
#include "Core/Tidy/TidyLock.hpp"
#include "Core/Tidy/TidyRecovery.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using TagFields::Field;

constexpr std::string_view changedSincePlanning = "計画のあとでファイルが変わっています";

// The fields the item changes, with their new values (an empty one removes
// the field).
TagFields::Values changedFields(const TrackMeta& old, const TrackMeta& proposed) {
    TagFields::Values values;
    for (Field field : TagFields::allFields) {
        const std::string& value = TagFields::member(proposed, field);
        if (!text::equivalent(TagFields::member(old, field), value)) {
            values[field] = value.empty() ? std::nullopt : std::optional(value);
        }
    }
    return values;
}

std::string joinedPath(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

// One item of the run. Its journal line is written before the file is
// touched, its completion after; a completion that can't be recorded takes
// the change back.
class ItemRun {
public:
    ItemRun(RunContext& context, const TidyItem& item, std::string source, bool tagsOnly,
            const std::shared_ptr<const FFmpegRunner>& runner,
            const std::function<std::string(const TidyJournalEntry&)>& entryLine,
            std::stop_token stop)
        : context_(context),
          entryLine_(entryLine),
          item_(item),
          source_(std::move(source)),
          wantsMove_(item.pathChange && !tagsOnly),
          runner_(runner),
          stop_(std::move(stop)) {}

    // Throws ConversionError when the item fails; whatever it did is then
    // still to be completed.
    void run() {
        const fs::path& root = context_.root;
        TidyApplier::checkPath(root, source_);
        if (wantsMove_) TidyApplier::checkPath(root, item_.target);
        const std::optional<TidyApplier::Place> file =
            TidyApplier::findFile(root, source_, &context_.renamed);
        if (!file) throw ConversionError("ファイルが見つかりません");
        TidyApplier::sweep(file->path.parent_path(), context_.progress);
        const auto facts = FileIdentity::at(file->path);
        if (!facts || (item_.size && facts->size != *item_.size) ||
            (item_.modified && facts->modified != *item_.modified)) {
            throw ConversionError(std::string(changedSincePlanning));
        }

        const bool wantsTags = item_.tagsChange && item_.tagsEditable;
        TagFields::Values values, before;
        TagFields::FramePlaces places;
        bool tagAdded = false;
        std::optional<Bytes> trailer;
        std::optional<std::string> digestBefore;
        std::optional<std::string> addedAtom;
        if (wantsTags) {
            const std::optional<TrackMeta> now =
                TidyFileState::currentRecord(file->path, runner_, stop_, root / item_.source);
            if (stop_.stop_requested()) throw Cancelled();
            if (!now || !(*now == item_.old)) {
                throw ConversionError(std::string(changedSincePlanning));
            }
            values = changedFields(item_.old, item_.new_);
            // As the bytes stand: a new value may change a frame's form, and
            // the old text written into the new form would be other bytes.
            const TagFields::Snapshot raw = TagFields::snapshot(file->path);
            for (const auto& [field, value] : values) {
                before[field] = raw.values.at(field);
                if (const auto place = raw.places.find(field); place != raw.places.end()) {
                    places.insert(*place);
                }
            }
            // Only a tag added in front of the trailer changes it.
            tagAdded = !raw.hasTag;
            if (tagAdded) trailer = raw.trailer;
            addedAtom = raw.addedAtom;
        }
        std::optional<TidyApplier::Place> destination;
        std::vector<std::string> made;
        if (wantsMove_) {
            const TidyApplier::Place folder = TidyApplier::ensureFolders(root, item_.target, false);
            const std::string name = PosixFS::nfc(fs::path(item_.target).filename()).string();
            destination = TidyApplier::Place{folder.path / name, joinedPath(folder.relative, name)};
            if (destination->path == file->path) {
                destination.reset();
            } else if (TidyApplier::isTaken(file->path, destination->path)) {
                // Before the tags: a file whose move can't happen keeps them.
                destinationTaken(destination->path);
            }
            const std::vector<std::string> levels = pathLevels(folder.relative);
            for (std::size_t level = folder.found; destination && level < levels.size(); ++level) {
                made.push_back(joinedLevels(levels, level + 1));
            }
        }
        if (!wantsTags && !destination) return;
        // The song as checked, by its bytes: what a run killed before it
        // wrote the song tells another program's save by, and what the
        // undo of a song only moved finds it by, whatever the volume
        // numbers the files.
        try {
            FileSource song(file->path, *facts);
            digestBefore = sha256Hex(song);
        } catch (const FileChangedMeanwhile&) {
            throw ConversionError(std::string(changedSincePlanning));
        }

        entry_.source = file->relative;
        entry_.target = destination ? destination->relative : file->relative;
        entry_.old = item_.old;
        entry_.new_ = item_.new_;
        entry_.tagsWritten = wantsTags;
        entry_.moved = destination.has_value();
        if (wantsTags) entry_.rawOld = before;
        entry_.placesOld = std::move(places);
        entry_.sizeBefore = facts->size;
        entry_.sha256Before = std::move(digestBefore);
        entry_.tagAdded = tagAdded;
        entry_.trailerOld = std::move(trailer);
        entry_.addedAtom = std::move(addedAtom);
        entry_.announcesContent = wantsTags;
        if (destination) entry_.stopover = TidyApplier::newStopover();
        entry_.made = std::move(made);
        entry_.id = context_.nextId;
        entry_.pending = true;
        std::string line;
        try {
            line = entryLine_(entry_);
        } catch (const JournalError& error) {
            // Nothing is touched yet: this song alone is left as it is.
            throw ConversionError(std::string(error.what()) + ": " +
                                  shownPath(file->path.filename().string()));
        }
        ++context_.nextId;
        mark_ = context_.journal.length();
        context_.journal.append(line);  // nothing is touched before this
        written_ = true;
        sourcePath_ = current_ = file->path;

        if (wantsTags) {
            try {
                // Against the song compared with the plan, not one saved
                // since (while ffmpeg read it, or the journal was flushed).
                TidyFileState::rewrite(
                    current_, values, {}, *facts, [&](const NewContent& content) {
                        context_.journal.append(TidyJournalNewContent{*entry_.id, content}.line());
                    });
            } catch (const FileChangedMeanwhile&) {
                throw ConversionError(std::string(changedSincePlanning));
            }
            tagsWritten_ = true;
        }
        if (destination) {
            const TidyApplier::Place folder = TidyApplier::ensureFolders(root, item_.target);
            const fs::path to = folder.path / destination->path.filename();
            TidyApplier::move(current_, to, entry_.stopover);
            moved_ = true;
            context_.emptied.insert(current_.parent_path());
            current_ = to;
        }
    }

    // The completion line, when the item's line was written. When it can't
    // be recorded, the change is taken back and the line with it, and the
    // run ends with the JournalError.
    void complete() {
        if (!written_) return;
        // Folders made for a move that didn't happen go again once empty.
        if (!moved_) {
            for (const std::string& folder : entry_.made) {
                context_.emptied.insert(context_.root / folder);
            }
        }
        TidyJournalCompletion completion{*entry_.id, tagsWritten_, moved_, {}, {}};
        if (const auto facts = FileIdentity::at(current_)) {
            completion.size = facts->size;
            completion.modified = facts->modified;
        }
        try {
            context_.journal.append(completion.line());
        } catch (const JournalError&) {
            takeBack();
            throw;
        }
    }

private:
    void takeBack() noexcept {
        try {
            if (moved_) TidyApplier::move(current_, sourcePath_, entry_.stopover);
            if (tagsWritten_ && entry_.rawOld) {
                TidyFileState::rewrite(sourcePath_, *entry_.rawOld, TidyFileState::before(entry_));
            }
            context_.journal.truncate(mark_);
        } catch (...) {
            // The line stays: the next undo or apply judges the file.
        }
    }

    RunContext& context_;
    const std::function<std::string(const TidyJournalEntry&)>& entryLine_;
    const TidyItem& item_;
    std::string source_;  // relative; a folder renamed whole changed it
    bool wantsMove_;
    const std::shared_ptr<const FFmpegRunner>& runner_;
    std::stop_token stop_;
    TidyJournalEntry entry_;
    fs::path sourcePath_, current_;
    std::uint64_t mark_ = 0;
    bool written_ = false, tagsWritten_ = false, moved_ = false;
};

}  // namespace

fs::path TidyApplier::journalURL(const fs::path& journalDir) {
    return journalName(journalDir, std::chrono::system_clock::now());
}

TidyResult TidyApplier::apply(const TidyPlan& plan, const fs::path& journalDir, bool tagsOnly,
                              const Progress& progress, std::stop_token stop) const {
    const fs::path root = plan.root;
    std::vector<const TidyItem*> chosen;
    for (const TidyItem& item : plan.items) {
        if (item.status == TidyItem::Status::change && item.selected) chosen.push_back(&item);
    }
    TidyResult result;
    if (chosen.empty()) return result;
    if (!root.is_absolute() || plan.root.find('\0') != std::string::npos) {
        throw ConversionError("ライブラリの外を指すパスです: " + shownPath(plan.root));
    }

    std::error_code error;
    fs::create_directories(journalDir, error);
    if (error) {
        throw ConversionError(
            fileSystemMessage("フォルダを作れません: ", journalDir.string(), error.value()));
    }
    const TidyLock lock(journalDir);
    RenamedFolders renamed = finishInterruptedRuns(journalDir, plan.root, progress);
    JournalWriter journal(journalDir);
    try {
        journal.append(journalHeader(plan.root, std::chrono::system_clock::now()));
    } catch (const JournalError&) {
        // Nothing was changed: no journal stays to say so.
        PosixFS::remove(journal.path());
        throw;
    }
    result.journal = journal.path();
    RunContext context{root, journal, progress, 1, {}, std::move(renamed)};

    std::vector<std::string> sources;
    for (const TidyItem* item : chosen) sources.push_back(item->source);
    if (!tagsOnly) renameFoldersWhole(context, plan, chosen, sources);

    const std::shared_ptr<const FFmpegRunner> runner =
        ffmpeg ? std::make_shared<const FFmpegRunner>(*ffmpeg) : nullptr;
    const auto total = static_cast<std::int64_t>(chosen.size());
    for (std::int64_t i = 0; i < total; ++i) {
        if (stop.stop_requested()) throw Cancelled();
        const auto index = static_cast<std::size_t>(i);
        const TidyItem& item = *chosen[index];
        if (progress) progress({TidyEvent::Progress{i, total, item.new_.title}});
        ItemRun run(context, item, sources[index], tagsOnly, runner, entryLine, stop);
        std::optional<std::string> failure;
        try {
            run.run();
        } catch (const JournalError&) {
            throw;
        } catch (const ConversionError& itemError) {
            failure = itemError.what();
        } catch (const fs::filesystem_error& itemError) {
            failure = itemError.what();
        } catch (...) {
            run.complete();
            throw;
        }
        // Whatever changed is on record before anything else happens.
        run.complete();
        if (failure) {
            ++result.failed;
            if (progress) progress({TidyEvent::Failed{item.source, *failure}});
        } else {
            ++result.done;
        }
    }
    removeEmptyFolders(context.emptied, root);
    if (progress) progress({TidyEvent::Progress{total, total, ""}});
    return result;
}

}  // namespace tarvik
