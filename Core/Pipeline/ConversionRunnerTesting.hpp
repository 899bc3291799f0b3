// Test-only helpers of the pipeline tests: readable failure output for
// events, an ffmpeg stand-in that counts how many copies of it run at once,
// a scripted stand-in for the converter, runs to their end and tagged tones
// for the real ffmpeg. Not part of the library.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Pipeline/ConversionEvent.hpp"
#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Sleep.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {

inline void PrintTo(const ConversionEvent& event, std::ostream* out) {
    using E = ConversionEvent;
    if (event.phaseAs<E::Phase::Scanning>()) *out << "scanning";
    if (const auto* reading = event.phaseAs<E::Phase::Reading>()) {
        *out << "reading " << reading->done << "/" << reading->total;
    }
    if (event.phaseAs<E::Phase::Planning>()) *out << "planning";
    if (const auto* lookingUp = event.phaseAs<E::Phase::LookingUp>()) {
        *out << "lookingUp " << lookingUp->album << "/" << lookingUp->albums << " "
             << lookingUp->name;
    }
    if (event.phaseAs<E::Phase::Converting>()) *out << "converting";
    if (event.phaseAs<E::Phase::Finishing>()) *out << "finishing";
    if (const auto* progress = event.as<E::Progress>()) {
        *out << "progress done " << progress->done << " of " << progress->total;
    }
    if (const auto* converted = event.trackAs<E::Track::Converted>()) {
        *out << "converted " << converted->path;
    }
    if (const auto* skipped = event.trackAs<E::Track::Skipped>())
        *out << "skipped " << skipped->path;
    if (const auto* failed = event.trackAs<E::Track::Failed>()) {
        *out << "failed " << failed->source << ": " << failed->reason;
    }
    if (const auto* renamed = event.trackAs<E::Track::Renamed>()) {
        *out << "renamed " << renamed->oldMeta.toJSON().dump() << " -> "
             << renamed->newMeta.toJSON().dump();
    }
    if (const auto* notice = event.as<E::Notice>()) *out << "notice " << notice->text;
    if (const auto* summary = event.as<E::Summary>()) {
        *out << "finished done " << summary->progress.done << " skipped "
             << summary->progress.skipped << " failed " << summary->progress.failed << " of "
             << summary->progress.total << (summary->stopped ? " stopped" : "")
             << (summary->cardFull ? " cardFull" : "") << " placed " << summary->placed.size();
    }
}

namespace testing {

// An ffmpeg stand-in for tag reads. Each run marks itself running in
// `folder`/running, waits `pause` seconds so that overlapping runs see each other,
// appends the number of runs it saw to `folder`/seen, and prints metadata
// text whose title is the file's name without its extension. A file whose
// name begins with "slow" makes it wait half a minute instead (a stop ends it).
struct CountingFFmpeg {
    std::filesystem::path program;
    std::filesystem::path folder;

    explicit CountingFFmpeg(const std::filesystem::path& where, const std::string& pause = "0.05")
        : folder(where) {
        std::filesystem::create_directories(folder / "running");
        const std::string running = folder.string() + "/running";
        program =
            writeScript(folder / "ffmpeg", "mkdir \"" + running +
                                               "/$$\"\n"
                                               "name=$(basename \"$6\"); name=${name%.*}\n"
                                               "case \"$name\" in slow*) exec sleep 30;; esac\n"
                                               "sleep " +
                                               pause +
                                               "\n"
                                               "ls \"" +
                                               running + "\" | wc -l >> \"" + folder.string() +
                                               "/seen\"\n"
                                               "rmdir \"" +
                                               running +
                                               "/$$\"\n"
                                               "printf ';FFMETADATA1\\ntitle=%s\\n' \"$name\"\n");
    }

    // The most runs any run saw at once; 0 before the first run.
    int peak() const {
        std::ifstream seen(folder / "seen");
        int most = 0;
        for (int count = 0; seen >> count;) most = std::max(most, count);
        return most;
    }
};

// Tagged tones, made four at a time; with a picture, it is embedded as the cover.
inline void makeTones(const std::vector<std::pair<std::filesystem::path, ToneOptions>>& tones,
                      const std::optional<std::filesystem::path>& picture = std::nullopt) {
    BoundedGroup<bool> makers(4);
    for (const auto& [file, options] : tones) {
        makers.spawn([&file, &options, &picture](std::stop_token) {
            const std::filesystem::path plain =
                picture ? file.string() + ".plain.flac" : file.string();
            makeTone(plain, options);
            if (!picture) return true;
            runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", plain.string(), "-i",
                        picture->string(), "-map", "0", "-map", "1", "-c", "copy", "-disposition:v",
                        "attached_pic", file.string()});
            std::filesystem::remove(plain);
            return true;
        });
    }
    while (makers.next()) {
    }
}

// A stand-in for the converter, scripted by the source file's name: how long
// each conversion takes and how it ends. One that ends well writes a small
// file at the job's destination, as the real converter does; a delay and a
// wait end early with Cancelled when the run's stop reaches them. It notes
// every job, the order of the starts and the most conversions running at once.
class ScriptedConverter {
public:
    enum class Ending { write, fail, noSpace, waitForStop };
    struct Step {
        Ending ending = Ending::write;
        std::chrono::milliseconds delay{5};
    };

    void script(const std::string& sourceName, Step step) {
        std::lock_guard lock(state_->mutex);
        state_->steps[sourceName] = step;
    }
    // Runs at the start of every conversion, on the conversion's thread.
    void onStart(std::function<void(const Converter::Job&)> hook) {
        std::lock_guard lock(state_->mutex);
        state_->onStart = std::move(hook);
    }

    ConversionRunner::ConvertTrack function() const {
        return [state = state_](const Converter::Job& job, std::stop_token stop) {
            Step step;
            std::function<void(const Converter::Job&)> hook;
            {
                std::lock_guard lock(state->mutex);
                const std::string name = job.source.filename().string();
                if (const auto scripted = state->steps.find(name); scripted != state->steps.end()) {
                    step = scripted->second;
                }
                state->started.push_back(name);
                state->jobs.push_back(job);
                state->peak = std::max(state->peak, ++state->running);
                hook = state->onStart;
            }
            struct Leave {
                State& state;
                ~Leave() {
                    std::lock_guard lock(state.mutex);
                    --state.running;
                }
            } leave{*state};
            if (hook) hook(job);
            const auto wait =
                step.ending == Ending::waitForStop ? std::chrono::hours(1) : step.delay;
            if (!sleepFor(wait, stop)) {
                std::lock_guard lock(state->mutex);
                ++state->stopsSeen;
                throw Cancelled();
            }
            switch (step.ending) {
                case Ending::write:
                    write(*state, job);
                    return;
                case Ending::fail:
                    throw ConversionError("変換できません: " + job.source.filename().string());
                case Ending::noSpace:
                    throw PosixFS::NoSpace();
                case Ending::waitForStop:
                    return;
            }
        };
    }

    std::vector<std::string> started() const {
        std::lock_guard lock(state_->mutex);
        return state_->started;
    }
    std::vector<Converter::Job> jobs() const {
        std::lock_guard lock(state_->mutex);
        return state_->jobs;
    }
    int peak() const {
        std::lock_guard lock(state_->mutex);
        return state_->peak;
    }
    int stopsSeen() const {
        std::lock_guard lock(state_->mutex);
        return state_->stopsSeen;
    }

private:
    struct State {
        TempDir staging;   // the finished files before they are placed
        std::mutex mutex;  // guards every member below
        std::map<std::string, Step> steps;
        std::function<void(const Converter::Job&)> onStart;
        std::vector<std::string> started;
        std::vector<Converter::Job> jobs;
        int running = 0;
        int peak = 0;
        int stopsSeen = 0;
    };
    // Places the file as the real converter does: through the file layer,
    // below the job's root when it has one.
    static void write(const State& state, const Converter::Job& job) {
        const std::string content = "converted " + job.meta.title;
        if (!job.root) return writeFile(PosixFS::nfc(job.destination), content);
        const std::filesystem::path staged = state.staging / makeUuid();
        writeFile(staged, content);
        struct Remove {
            const std::filesystem::path& file;
            ~Remove() { std::filesystem::remove(file); }
        } remove{staged};
        PosixFS::copy(staged, *job.root, job.destination);
    }

    // Shared with every function handed out: a run may outlive the test's copy.
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Items numbered from 1 in plan order: item n comes from "<n>.flac" and goes
// to "MUSIC/<album folder>/<n> t<n>.mp3"; albums are numbered in list order.
inline ConversionPlan planOf(const std::vector<std::pair<std::string, int>>& albums) {
    ConversionPlan plan;
    int number = 0;
    for (std::size_t album = 0; album < albums.size(); ++album) {
        plan.albums.push_back({"Artist", albums[album].first});
        for (int track = 0; track < albums[album].second; ++track) {
            ++number;
            const std::string n = std::to_string(number);
            plan.items.push_back(
                {.source = "/music/" + n + ".flac",
                 .meta = TrackMeta("t" + n, "Artist", "Artist", albums[album].first,
                                   std::to_string(track + 1), "", "", ""),
                 .key = n,
                 .relativePath = "MUSIC/" + albums[album].first + "/" + n + " t" + n + ".mp3",
                 .albumIndex = static_cast<std::int64_t>(album)});
        }
    }
    return plan;
}

// One album folder per item.
inline ConversionPlan separateAlbums(int count) {
    std::vector<std::pair<std::string, int>> albums;
    for (int i = 1; i <= count; ++i) albums.push_back({"Album " + std::to_string(i), 1});
    return planOf(albums);
}

// Every event of a started run up to its end; waits for the run's thread too.
inline std::vector<ConversionEvent> drain(ConversionRunner::Handle& handle) {
    std::vector<ConversionEvent> events;
    while (std::optional<ConversionEvent> event = handle.events.next()) {
        events.push_back(std::move(*event));
    }
    handle.task->wait();
    return events;
}

// A runner writing to `card` with `jobs` conversions at once and no loudness
// pass; the room on the card is unknown, so only what a test says of it counts.
inline ConversionRunner runnerFor(const std::filesystem::path& card, std::int64_t jobs = 1,
                                  const std::filesystem::path& ffmpeg = "/nonexistent/ffmpeg",
                                  const std::filesystem::path& music = "/nonexistent/music") {
    ConversionRunner runner{ffmpeg, DeviceProfile("test", "Test"), music, card, {}, RunOptions{},
                            nullptr};
    runner.options.jobs = jobs;
    runner.options.loudnessTarget = std::nullopt;
    runner.options.freeSpace = [](const std::filesystem::path&) {
        return std::optional<std::int64_t>();
    };
    return runner;
}

// Every event of a run of `plan` (or of its own planning) with `converter`.
inline std::vector<ConversionEvent> runToTheEnd(const ConversionRunner& runner,
                                                std::optional<ConversionPlan> plan,
                                                const ScriptedConverter& converter = {}) {
    ConversionRunner::Handle handle = runner.start(std::move(plan), converter.function());
    return drain(handle);
}

inline const ConversionEvent::Summary& summaryOf(const std::vector<ConversionEvent>& events) {
    return *events.back().as<ConversionEvent::Summary>();
}

// How a run ended, in one line: "done 2 skipped 1 failed 0" and " stopped",
// " cardFull" when they hold.
inline std::string outcomeOf(const std::vector<ConversionEvent>& events) {
    const ConversionEvent::Summary& summary = summaryOf(events);
    return "done " + std::to_string(summary.progress.done) + " skipped " +
           std::to_string(summary.progress.skipped) + " failed " +
           std::to_string(summary.progress.failed) + (summary.stopped ? " stopped" : "") +
           (summary.cardFull ? " cardFull" : "");
}

// The payloads of every track event of one kind, in order.
template <typename Payload>
std::vector<Payload> tracksOf(const std::vector<ConversionEvent>& events) {
    std::vector<Payload> found;
    for (const ConversionEvent& event : events) {
        if (const auto* payload = event.trackAs<Payload>()) found.push_back(*payload);
    }
    return found;
}

// The relative paths of every file below `root`, in name order.
inline std::vector<std::string> pathsBelow(const std::filesystem::path& root) {
    std::vector<std::string> paths;
    if (!std::filesystem::exists(root)) return paths;
    for (const auto& [path, content] : filesBelow(root)) paths.push_back(path);
    return paths;
}

}  // namespace testing
}  // namespace tarvik
