// Everything one export needs: the ffmpeg program, the unit's profile, the
// music folder and the selection in it, the destination, the run options and,
// when titles are to be looked up, a catalogue. A value the application builds
// for each planning and each run and never changes afterwards; its operations
// are const and may run on any thread, several at once. Operations that may
// wait take a stop token and end with Cancelled when it fires. A started run
// reports every failure, its own stop included, as events; starting it fails
// only when the system can make no thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Catalog/MusicCatalog.hpp"
#include "Core/Convert/AudioFileProbe.hpp"
#include "Core/Convert/Converter.hpp"
#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Naming/PosixFS.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Pipeline/ConversionEvent.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/Pipeline/RunOptions.hpp"
#include "Core/Platform/DetachedTask.hpp"
#include "Core/Platform/EventChannel.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {

struct ConversionRunner {
    using Events = EventChannel<ConversionEvent>;
    // One conversion of a run: Converter::convert unless a caller puts a
    // stand-in here. Called from the run's worker threads, several at once.
    using ConvertTrack = std::function<void(const Converter::Job&, std::stop_token)>;

    // A started run: its events, and the thread that runs it. Dropping the
    // handle neither stops nor waits for the run; it stops when cancelled or
    // when the last reader of its events goes away. The run owns copies of
    // all it uses, so it may outlive the handle; a program that ends while a
    // run is live cancels it and waits for `task`, which ends once the ffmpeg
    // children under way have been stopped (an artwork search is let finish).
    struct Handle {
        Events::Reader events;
        std::shared_ptr<DetachedTask> task;

        // Asks the run to stop; it still ends its events with `finished`.
        void cancel() const { task->cancel(); }
    };

    // What a run has counted and written so far; owned by the run's thread.
    struct RunState {
        ConversionEvent::Progress progress;
        std::int64_t renamed = 0;  // renamed events of the run's own planning
        bool cardFull = false;
        bool stopped = false;
        std::set<std::string> placed;  // NFC relative paths now on the card
        std::set<std::string> failed;  // NFC relative paths whose conversion failed
        // NFC relative paths of the items the carry-over of earlier cards holds.
        std::set<std::string> excluded;
        // NFC relative path on the card -> how the carry-over names that track.
        std::map<std::string, std::string> carried;
        // NFC relative path -> path of the file this run wrote for it.
        std::map<std::string, std::string> written;
        // Folders this run made on the card, as they are named there.
        std::set<std::string> created;
        // The destination as the converting run found it; once it is gone or
        // on another device (a card pulled), the run writes nothing more.
        std::optional<PosixFS::Root> destination;
        // The music folder as the converting run found it; nothing when it
        // was not there (a plan made elsewhere), and then it is not watched.
        std::optional<PosixFS::Root> musicFolder;
        // Why the run stopped by itself; set once.
        ConversionEvent::Halt halt = ConversionEvent::Halt::none;

        // The closing record: these counts, `placed` in ascending order and
        // the carry-over's names of those tracks.
        ConversionEvent::Summary summary() const;
    };

    struct RollBack {
        std::vector<std::string> removed;       // relative paths, ascending
        std::vector<std::string> albumFolders;  // relative folders, ascending

        bool operator==(const RollBack&) const = default;
    };

    std::filesystem::path ffmpeg;
    DeviceProfile profile;
    std::filesystem::path source;       // the music folder
    std::filesystem::path destination;  // the card's root, or any export folder
    // Artist folder names, or "artist/album"; the empty set selects everything.
    std::set<std::string> artists;
    RunOptions options;
    std::shared_ptr<MusicCatalog> catalog;  // null: titles are not looked up

    // The reason of the failed event for a destination that is not there.
    static constexpr std::string_view destinationLostMessage =
        "書き出し先が見つかりません。SD カードかフォルダを選び直してください。";
    // The reason of the failed event for a music folder that went away.
    static constexpr std::string_view musicFolderLostMessage =
        "音楽フォルダが見つかりません。つなぎ直すか、選び直してください。";

    // Tag reads that run at once, whatever `options.jobs` says.
    static constexpr std::size_t tagReadWidth = 4;
    // A reading event follows every this many files read.
    static constexpr std::size_t readingReportStep = 50;

    // The dry run: lists the selection, reads every file's tags, evens out
    // artist names, places the tracks under the profile and, with a catalogue,
    // corrects titles album by album before placing again. Never touches the
    // destination. Throws ConversionError when the profile has problems or
    // the selection holds no audio file, and Cancelled when `stop` fires; a
    // stopped pass returns no plan.
    ConversionPlan plan(const ProgressCallback& progress, std::stop_token stop) const;

    // The record of one file: its tags through the probe, the gaps filled
    // from its names. Never fails; a stopped read gives the names' record.
    static TrackMeta readTagsChild(const AudioFileProbe& probe, const std::filesystem::path& file,
                                   std::stop_token stop);

    // The records of `files` in their order, read `tagReadWidth` at a time
    // through one runner, with a reading event for every 50th file read.
    // Throws Cancelled, once the running reads have ended, when `stop` fires;
    // no event follows the stop.
    static std::vector<TrackMeta> readTags(const std::vector<std::filesystem::path>& files,
                                           std::shared_ptr<const FFmpegRunner> runner,
                                           const ProgressCallback& progress, std::stop_token stop);

    // Starts a run on a thread of its own and returns at once. Without a plan
    // the run plans first. `convert` empty: the real converter. The events
    // end with exactly one `finished`, however the run ends.
    Handle start(std::optional<ConversionPlan> plan, ConvertTrack convert = {}) const;

    // A run without a plan whose handle is dropped at once: only its events.
    Events::Reader run() const;

    // Throws ConversionError listing every problem of the profile, if any: a
    // run writes nothing under a profile that the validator refuses.
    void checkProfile() const;

    // The run itself, on the calling thread: checks the profile, plans when
    // `plan` is absent, converts `options.jobs` items at a time in plan order
    // and finishes.
    // Everything goes to `events`, which it finishes; never throws.
    void runBody(Events& events, std::optional<ConversionPlan> plan, ConvertTrack convert,
                 std::stop_token stop) const;

    // The end of a converting run: a run that filled the card and was not
    // stopped takes back its partly written albums and the empty folders it
    // made, then the junk goes and `finished` ends the events. A destination
    // found gone here stops the run as `halt` does.
    void finish(RunState& state, const std::vector<ConversionPlan::Item>& items, Events& events,
                std::stop_token stop) const;

    // The end of a run whose own planning threw `error`: a stop gives a
    // stopped `finished`, any other error a failed track for the music folder.
    void failRun(RunState& state, std::exception_ptr error, Events& events) const;

    // The destination is gone, on another device or read-only, its music
    // folder is a link, or the music folder is gone: one failed event for the
    // place that let the run down, with the cause, and the run ends as a
    // stopped one, so the carry-over of earlier cards is kept. Once per run;
    // the first cause stands.
    void halt(RunState& state, Events& events, ConversionEvent::Halt why) const;

    // The failed event's reason for a halt: what the user must put right.
    std::string haltReason(ConversionEvent::Halt why) const;

    // Deletes the tracks this run wrote into album folders that hold fewer
    // placed tracks than the plan meant for them, and the folders (with their
    // parents) left empty; nothing when no album written in this run is
    // complete. Files already on the card are never touched. Excluded and
    // failed items are not meant for the card: a track that failed to convert
    // leaves its album whole, or the album would be carried from card to card.
    static RollBack rollBackPartialAlbums(const std::vector<ConversionPlan::Item>& items,
                                          const std::set<std::string>& exclude,
                                          const std::set<std::string>& failed,
                                          const std::set<std::string>& placed,
                                          const std::map<std::string, std::string>& written);

    // Removes, deepest first, the folders of `folders` that hold nothing.
    static void removeEmptyFolders(const std::set<std::string>& folders);

    // Deletes, below `folder`, the desktop's "._" and ".DS_Store" files and
    // this program's own temporary ".tarvik-" + UUID + ".part" files that no
    // copy is writing (PosixFS::removeLeftover); never a folder, and never
    // anyone else's partial downloads.
    static void removeJunk(const std::filesystem::path& folder);

    // The folder at the top of the card tree: the profile's root folder below
    // the destination, when it is a folder there and no link; the
    // destination itself when the profile has no root folder.
    std::optional<std::filesystem::path> cardRoot(const PosixFS::Root& writingTo) const;

    // The first level of the profile's root folder below the destination
    // that is a link, if any.
    std::optional<std::filesystem::path> rootLink() const;
};

}  // namespace tarvik
