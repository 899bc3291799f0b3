#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <set>
#include <string>
#include <system_error>
#include <utility>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/ArtworkExtractor.hpp"
#include "Core/Naming/PosixFS.hpp"
#include "Core/Pipeline/ArtworkCache.hpp"
#include "Core/Pipeline/CardAlbums.hpp"
#include "Core/Pipeline/CardTrackMatch.hpp"
#include "Core/Pipeline/CarryOver.hpp"
#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/SpaceEstimate.hpp"
#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/AlbumFolders.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardTree.hpp"
#include "Core/SDCard/SDCardTools.hpp"

namespace tarvik {
namespace {

using Clock = std::chrono::steady_clock;
using Halt = ConversionEvent::Halt;

// The reason of a failed track whose cause an earlier track's reason told.
constexpr std::string_view sameCauseMessage = "上と同じ理由です";
constexpr std::string_view linkMessage = SDCardTools::folderIsLinkMessage;
using Item = ConversionPlan::Item;

// The text of whatever a conversion threw.
std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& known) {
        return known.what();
    } catch (...) {
        return "不明なエラーで変換できませんでした";
    }
}

// Whether the folder's file system is mounted read-only now, as a card is
// that the system remounted so after an error: no track can be written there.
bool isReadOnly(const PosixFS::Root& root) {
    struct statvfs facts {};
    return ::statvfs(root.folder.c_str(), &facts) == 0 && (facts.f_flag & ST_RDONLY) != 0;
}

// Whether a file a conversion put in place is still there: a card pulled
// meanwhile took it along.
bool isWritten(const std::filesystem::path& file) {
    struct stat facts {};
    return ::lstat(file.c_str(), &facts) == 0 && S_ISREG(facts.st_mode);
}

bool isNoSpace(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const PosixFS::NoSpace&) {
        return true;
    } catch (...) {
        return false;
    }
}

// One run's converting phase. Its state belongs to the run's thread; the
// children get copies of their item's job and share only the converter, the
// artwork cache and the plan's items, none of which they change.
class ConvertingRun {
public:
    ConvertingRun(const ConversionRunner& runner, ConversionRunner::Events& events,
                  ConversionRunner::RunState& state, std::vector<Item> items,
                  ConversionRunner::ConvertTrack convert, std::stop_token stop)
        : runner_(runner),
          events_(events),
          state_(state),
          items_(std::move(items)),
          convert_(std::move(convert)),
          stop_(std::move(stop)) {}

    void run() {
        auto ffmpeg = std::make_shared<const FFmpegRunner>(runner_.ffmpeg);
        if (!convert_) {
            auto converter = std::make_shared<Converter>(ffmpeg, runner_.profile);
            convert_ = [converter](const Converter::Job& job, std::stop_token stop) {
                converter->convert(job, std::move(stop));
            };
        }
        const DeviceProfile::Tags::Artwork& art = runner_.profile.tags.artwork;
        ArtworkCache artwork(ArtworkExtractor{ffmpeg}, art.maxPx, art.enabled);
        // What the carry-over of earlier cards holds is not written again;
        // each track is named there by its planned place, whatever place the
        // card gives it.
        std::vector<std::string> identities = albumIdentities();
        excluded_.reserve(items_.size());
        carryEntries_.reserve(items_.size());
        for (std::size_t index = 0; index < items_.size(); ++index) {
            const std::string& planned = items_[index].relativePath;
            excluded_.push_back(
                CarryOver::holds(runner_.options.exclude, identities[index], planned));
            carryEntries_.push_back(CarryOver::entry(identities[index], planned));
        }
        // The run never makes the destination: a folder the user chose that
        // is not there is no place to write to.
        state_.destination = PosixFS::rootAt(runner_.destination);
        if (!state_.destination) {
            runner_.halt(state_, events_, Halt::destinationLost);
            finish();
            return;
        }
        // A music folder that is a link leads out of the card: nothing starts.
        if (runner_.rootLink()) {
            runner_.halt(state_, events_, Halt::destinationLink);
            finish();
            return;
        }
        state_.musicFolder = PosixFS::rootAt(runner_.source);
        if (const std::optional<std::filesystem::path> root =
                runner_.cardRoot(*state_.destination)) {
            ConversionRunner::removeJunk(*root);
        }
        // Below this the card counts as full: 600 seconds of audio at the
        // profile's bit rate plus the reserve.
        headroom_ =
            SpaceEstimate::reserveBytes(runner_.profile.audio.bitrate, runner_.options.reserveMB);
        start_ = Clock::now();
        events_.send(ConversionEvent::converting());
        const bool cardPaths =
            runner_.profile.tags.encoding == DeviceProfile::Tags::Encoding::shiftJIS &&
            SDCardTools::isCardVolume(runner_.destination);
        cards_.emplace(*state_.destination, runner_.profile, items_, std::move(identities),
                       cardPaths, stop_, CardTrackMatch::decodeWith(ffmpeg));
        cards_->prefetch();

        // Negative counts are a caller's error; they start nothing, as 0 does.
        const std::int64_t jobs = std::max<std::int64_t>(runner_.options.jobs, 0);
        // Declared after everything its children use: should anything throw,
        // its destructor stops them and waits before those go away.
        BoundedGroup<Result> group(static_cast<std::size_t>(std::max<std::int64_t>(jobs, 1)),
                                   stop_);
        for (std::int64_t slot = 0; slot < jobs; ++slot) {
            if (!admit(group, artwork)) break;
        }
        while (std::optional<Result> result = group.next()) {
            // After the stop a failure is the stop's own, told once by it. A
            // song a child finished meanwhile is whole on the card all the
            // same: it is counted and told like any other, so that the summary
            // says what the card holds and no later card writes it again.
            if (stop_.stop_requested() || state_.halt != Halt::none) {
                state_.stopped = true;
                if (!result->error && isWritten(result->file)) reportResult(*result);
                continue;
            }
            // A child whose card went away reports that, not a track failure;
            // so does one that failed because nothing more can be written (a
            // card turned read-only, a music folder gone): the cause is told
            // once and no other track is tried in vain.
            if (const std::optional<Halt> why = haltCause();
                why && (*why == Halt::destinationLost || result->error)) {
                stopFor(group, *why);
                continue;
            }
            handle(*result);
            if (!stop_.stop_requested() && !noMoreStarts_) admit(group, artwork);
        }
        finish();
    }

private:
    // Each item's album identity; items come album by album, so each album's
    // digest is made once.
    std::vector<std::string> albumIdentities() const {
        std::vector<std::string> identities;
        identities.reserve(items_.size());
        for (std::size_t index = 0; index < items_.size(); ++index) {
            const TrackMeta& meta = items_[index].meta;
            const bool sameAlbum = index > 0 &&
                                   items_[index - 1].meta.albumArtist == meta.albumArtist &&
                                   items_[index - 1].meta.artist == meta.artist &&
                                   items_[index - 1].meta.album == meta.album;
            identities.push_back(sameAlbum ? identities.back() : AlbumIdentity::of(meta));
        }
        return identities;
    }

    void finish() {
        // Excluded items count for no folder when a full card takes back
        // partial albums; by now they stand where their album went.
        for (std::size_t index = 0; index < excluded_.size(); ++index) {
            if (excluded_[index]) state_.excluded.insert(text::nfcName(items_[index].relativePath));
        }
        runner_.finish(state_, items_, events_, stop_);
    }

    struct Result {
        std::size_t index = 0;
        std::filesystem::path file;
        std::exception_ptr error;
    };

    // What keeps the run from writing any further track, if anything.
    std::optional<Halt> haltCause() const {
        if (!PosixFS::isPresent(*state_.destination)) return Halt::destinationLost;
        if (isReadOnly(*state_.destination)) return Halt::destinationReadOnly;
        if (state_.musicFolder && !PosixFS::isPresent(*state_.musicFolder))
            return Halt::musicFolderLost;
        return std::nullopt;
    }

    // Stops the run as a stop would, with the failed event of its cause.
    void stopFor(BoundedGroup<Result>& group, Halt why) {
        runner_.halt(state_, events_, why);
        noMoreStarts_ = true;
        group.requestStop();
    }

    // Notes the folders of the item's path that are not there yet: if the
    // card fills up, those the run made and left empty go again.
    void noteNewFolders(const PosixFS::Location& place) {
        std::filesystem::path folder = place.path.parent_path();
        for (std::size_t level = place.levels - 1; level > place.found; --level) {
            state_.created.insert(folder.native());
            folder = folder.parent_path();
        }
    }

    std::optional<std::int64_t> freeSpace() const {
        if (runner_.options.freeSpace) return runner_.options.freeSpace(runner_.destination);
        const std::int64_t free = SDCardTools::freeBytes(runner_.destination);
        if (free == SDCardTools::unknownFreeBytes) return std::nullopt;
        return free;
    }

    void reportSkipped(const Item& item) {
        ++state_.progress.skipped;
        events_.send(ConversionEvent::skipped(item.relativePath));
        events_.send(ConversionEvent{state_.progress});
    }

    // Takes items from the cursor until one child starts (true) or none can.
    bool admit(BoundedGroup<Result>& group, ArtworkCache& artwork) {
        while (cursor_ < items_.size()) {
            const std::size_t index = cursor_++;
            const Item& item = items_[index];
            if (excluded_[index]) {
                reportSkipped(item);
                continue;
            }
            // A file on the card is the track's only when it is this album's;
            // another album's, a link or a folder there moves the track (or
            // its whole album) to a numbered name.
            std::optional<CardAlbums::Place> found;
            try {
                found = cards_->place(index);
            } catch (const Cancelled&) {
                // Stopped while a card file was checked: nothing is decided.
                noMoreStarts_ = true;
                return false;
            }
            const CardAlbums::Place& place = *found;
            // The album's folder of other names takes its name before anything
            // of it is written or counted there; where it can't, none of its
            // tracks goes there.
            if (place.folderMove && !moveFolder(index, *place.folderMove)) continue;
            if (const auto unmoved = unmoved_.find(SDCardTools::parentPath(item.relativePath));
                unmoved != unmoved_.end()) {
                reportResult(Result{
                    index,
                    {},
                    std::make_exception_ptr(ConversionError(std::string(sameCauseMessage)))});
                continue;
            }
            for (const std::string& notice : place.notices) {
                events_.send(ConversionEvent::notice(notice));
            }
            const std::string path = text::nfcName(item.relativePath);
            if (place.present) {
                state_.placed.insert(path);
                state_.carried[path] = carryEntries_[index];
                reportSkipped(item);
                continue;
            }
            if (place.link) {
                // Told once for each link; the tracks behind it point back to it.
                const bool told = !linksTold_.insert(*place.link).second;
                reportResult(Result{index,
                                    {},
                                    std::make_exception_ptr(ConversionError(
                                        told ? std::string(sameCauseMessage)
                                             : std::string(linkMessage) + *place.link))});
                continue;
            }
            if (place.blocked || !place.location) {
                reportResult(Result{
                    index,
                    {},
                    std::make_exception_ptr(ConversionError("書き込めません: " + item.relativePath +
                                                            "（空いている名前がありません）"))});
                continue;
            }
            if (const std::optional<std::int64_t> free = freeSpace(); free && *free < headroom_) {
                state_.cardFull = true;
                noMoreStarts_ = true;
                return false;
            }
            if (const std::optional<Halt> why = haltCause()) {
                stopFor(group, *why);
                return false;
            }
            // Moved only now that it will be written over at once.
            if (place.replaces && !moveEarlierCopy(index, *place.replaces, place)) {
                continue;
            }
            if (place.rewrites) rewrites_.insert(index);
            noteNewFolders(*place.location);
            const std::filesystem::path& file = place.location->path;
            try {
                spawn(group, artwork, index, runner_.destination / item.relativePath, file);
            } catch (...) {
                // No thread for it: the track fails, the run goes on.
                reportResult(Result{index, file, std::current_exception()});
                continue;
            }
            return true;
        }
        return false;
    }

    // Moves the album's folder an earlier run wrote under other names to
    // where the run plans it; tells so. False when it can't be moved: the
    // track fails, and so does every other track of the album that goes there.
    bool moveFolder(std::size_t index, const CardAlbums::Place::FolderMove& move) {
        try {
            SDCardTools::moveOnCard(*state_.destination, move.from, move.to);
        } catch (const std::exception&) {
            unmoved_.insert(move.to);
            reportResult(Result{index, {}, std::current_exception()});
            return false;
        }
        events_.send(ConversionEvent::notice(CardAlbums::folderMoveNotice(move)));
        return true;
    }

    // Moves the song's copy an earlier run wrote under another title or
    // number to the song's place, so that the conversion writes over it and
    // the card holds one copy at every moment; tells so. False when it
    // can't be moved: the song fails, and its copy stays as it was.
    bool moveEarlierCopy(std::size_t index, const std::string& earlier,
                         const CardAlbums::Place& found) {
        const PosixFS::Location& place = *found.location;
        const std::filesystem::path from = state_.destination->folder / earlier;
        std::string to;
        if (from != place.path) {
            to = items_[index].relativePath;
            const std::string newName = place.path.filename().string();
            try {
                // Only a change of letter case needs the card's two-step rename.
                if (from.parent_path() == place.path.parent_path() &&
                    SDCardTools::CardTree::fileKey(from.filename().string()) ==
                        SDCardTools::CardTree::fileKey(newName)) {
                    SDCardTools::renameOnCard(from, newName);
                } else {
                    // From a folder the library's names gave it, which it may leave empty.
                    if (place.found + 1 < place.levels) {
                        PosixFS::makeDirs(*state_.destination,
                                          SDCardTools::parentPath(items_[index].relativePath));
                    }
                    PosixFS::rename(from, place.path);
                    if (from.parent_path() != place.path.parent_path()) {
                        ::rmdir(from.parent_path().c_str());
                    }
                }
            } catch (const std::exception&) {
                reportResult(Result{index, {}, std::current_exception()});
                return false;
            }
        }
        rewrites_.insert(index);
        events_.send(
            ConversionEvent::notice(CardAlbums::rewriteNotice(earlier, to, found.albumRenamed)));
        return true;
    }

    // `target` is the destination joined with the item's path, `file` where
    // that is on the card.
    void spawn(BoundedGroup<Result>& group, ArtworkCache& artwork, std::size_t index,
               const std::filesystem::path& target, const std::filesystem::path& file) {
        const std::optional<PosixFS::Root> root = state_.destination;
        group.spawn([this, &artwork, index, target, file, root](std::stop_token stop) {
            Result result{index, file, nullptr};
            try {
                const Item& item = items_[index];
                Converter::Job job{.source = item.source,
                                   .destination = target,
                                   .meta = item.meta,
                                   .artworkJPEG = artwork.artwork(item, items_),
                                   .loudnessTarget = runner_.options.loudnessTarget,
                                   .root = root,
                                   .albumIdentity = AlbumIdentity::of(item.libraryMeta()),
                                   .trackIdentity = AlbumIdentity::trackOf(item.libraryMeta())};
                convert_(job, std::move(stop));
            } catch (...) {
                result.error = std::current_exception();
            }
            return result;
        });
    }

    void handle(const Result& result) {
        if (result.error && isNoSpace(result.error)) {
            state_.cardFull = true;
            noMoreStarts_ = true;
            return;
        }
        reportResult(result);
    }

    void reportResult(const Result& result) {
        const Item& item = items_[result.index];
        ConversionEvent::Progress& progress = state_.progress;
        if (result.error) {
            ++progress.failed;
            state_.failed.insert(text::nfcName(item.relativePath));
            // A cause that stops many tracks (a read-only card, a link loop)
            // is told in full once; the later tracks point back to it.
            std::string reason = describe(result.error);
            if (const std::optional<std::string_view> cause = systemCause(reason);
                cause && !causes_.emplace(*cause).second) {
                reason = std::string(sameCauseMessage);
            }
            events_.send(ConversionEvent::failed(item.source.string(), reason));
        } else {
            ++progress.done;
            const std::string path = text::nfcName(item.relativePath);
            state_.placed.insert(path);
            // A song that was on the card before, written again in its place,
            // is no song this run added: a full card never takes it back.
            if (!rewrites_.contains(result.index)) state_.written[path] = result.file.native();
            state_.carried[path] = carryEntries_[result.index];
            events_.send(ConversionEvent::converted(item.relativePath));
        }
        if (progress.done >= 1) {
            const double perItem = std::chrono::duration<double>(Clock::now() - start_).count() /
                                   static_cast<double>(progress.done);
            const std::int64_t left =
                progress.total - progress.done - progress.skipped - progress.failed;
            progress.etaSeconds = static_cast<std::int64_t>(perItem * static_cast<double>(left));
        }
        events_.send(ConversionEvent{progress});
    }

    const ConversionRunner& runner_;
    ConversionRunner::Events& events_;
    ConversionRunner::RunState& state_;
    // The plan's items, their card paths as the card lets them be.
    std::vector<Item> items_;
    ConversionRunner::ConvertTrack convert_;
    std::optional<CardAlbums> cards_;
    const std::stop_token stop_;

    std::set<std::string, std::less<>> causes_;  // system causes already reported
    std::set<std::string> linksTold_;            // links at folders already reported
    std::vector<bool> excluded_;                 // per item: an earlier card took it
    std::vector<std::string> carryEntries_;      // per item: its name in the carry-over
    std::set<std::size_t> rewrites_;             // items whose earlier copy is written over
    std::set<std::string> unmoved_;              // album folders that could not be moved
    std::size_t cursor_ = 0;
    bool noMoreStarts_ = false;
    std::int64_t headroom_ = 0;
    Clock::time_point start_;
};

}  // namespace

void ConversionRunner::runBody(Events& events, std::optional<ConversionPlan> plan,
                               ConvertTrack convert, std::stop_token stop) const {
    RunState state;
    try {
        if (plan) {
            try {
                checkProfile();
            } catch (...) {
                failRun(state, std::current_exception(), events);
                return;
            }
        } else {
            try {
                plan = this->plan(
                    [&](const ConversionEvent& event) {
                        if (event.trackAs<ConversionEvent::Track::Renamed>()) ++state.renamed;
                        events.send(event);
                    },
                    stop);
            } catch (...) {
                failRun(state, std::current_exception(), events);
                return;
            }
        }
        state.progress.duplicates = plan->duplicates;
        state.progress.total = static_cast<std::int64_t>(plan->items.size());
        events.send(ConversionEvent{state.progress});

        if (options.dryRun) {
            for (const Item& item : plan->items) {
                if (CarryOver::holds(options.exclude, item)) ++state.progress.skipped;
                events.send(ConversionEvent::skipped(item.relativePath));
            }
            events.send(
                ConversionEvent::finished({state.progress, false, false, state.renamed, {}}));
            events.finish();
            return;
        }
        ConvertingRun(*this, events, state, std::move(plan->items), std::move(convert), stop).run();
    } catch (...) {
        // Only running out of memory or threads gets here; the reader still
        // learns that the run is over.
        if (stop.stop_requested()) state.stopped = true;
        events.send(ConversionEvent::finished(state.summary()));
        events.finish();
    }
}

}  // namespace tarvik
