// Test-only helpers of the pipeline tests: an ffmpeg stand-in that counts how
// many copies of it run at once, a scripted stand-in for the converter, plans
// and runners made in one line, and events told as short texts. Not part of
// the library.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Naming/PosixFS.hpp"
#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Sleep.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Profiles/ProfileStore.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// An event as one short text: "skipped MUSIC/A/1 t1.mp3", "progress 1 2 0 / 5"
// (done, skipped, failed / total), "done 2 skipped 1 failed 0 stopped cardFull".
inline std::string describe(const ConversionEvent& event) {
    using E = ConversionEvent;
    const auto n = [](std::int64_t number) { return std::to_string(number); };
    if (const auto* reading = event.phaseAs<E::Phase::Reading>())
        return "reading " + n(reading->done) + "/" + n(reading->total);
    if (const auto* lookup = event.phaseAs<E::Phase::LookingUp>())
        return "lookingUp " + n(lookup->album) + "/" + n(lookup->albums) + " " + lookup->name;
    if (const auto* phase = event.as<E::Phase>())
        return std::array{
            "scanning", "", "planning", "", "converting", "finishing"}[phase->value.index()];
    if (const auto* p = event.as<E::Progress>())
        return "progress " + n(p->done) + " " + n(p->skipped) + " " + n(p->failed) + " / " +
               n(p->total);
    if (const auto* track = event.trackAs<E::Track::Converted>()) return "converted " + track->path;
    if (const auto* track = event.trackAs<E::Track::Skipped>()) return "skipped " + track->path;
    if (const auto* track = event.trackAs<E::Track::Failed>())
        return "failed " + track->source + ": " + track->reason;
    if (const auto* track = event.trackAs<E::Track::Renamed>())
        return "renamed " + track->oldMeta.title + " -> " + track->newMeta.title;
    if (const auto* notice = event.as<E::Notice>()) return "notice " + notice->text;
    const E::Summary& s = *event.as<E::Summary>();
    return "done " + n(s.progress.done) + " skipped " + n(s.progress.skipped) + " failed " +
           n(s.progress.failed) + (s.stopped ? " stopped" : "") + (s.cardFull ? " cardFull" : "") +
           std::array{"", " lost", " readOnly", " link",
                      " musicLost"}[static_cast<std::size_t>(s.halt)];
}

// Every event told, in order; with `only`, those told so.
inline Texts trace(const std::vector<ConversionEvent>& events, std::string_view only = "") {
    Texts told;
    for (const ConversionEvent& event : events) told.push_back(describe(event));
    std::erase_if(told, [&](const std::string& text) { return !text.starts_with(only); });
    return told;
}

// An ffmpeg stand-in for tag reads. Each run notes itself in `folder`/running,
// waits `pause` seconds so that overlapping runs see each other, appends how
// many it saw to `folder`/seen and prints metadata whose title is the file's
// name without its extension. A file named "slow…" makes it wait half a
// minute instead (a stop ends it).
struct CountingFFmpeg {
    fs::path program;
    fs::path folder;

    explicit CountingFFmpeg(const fs::path& where, const std::string& pause = "0.05")
        : folder(where) {
        fs::create_directories(folder / "running");
        program = writeScript(folder / "ffmpeg", "cd " + shellQuote(folder.string()) + R"(
mkdir "running/$$"; name=$(basename "$6"); name=${name%.*}
case "$name" in slow*) exec sleep 30;; esac
sleep )" + pause + R"(; ls running | wc -l >> seen; rmdir "running/$$"
printf ';FFMETADATA1\ntitle=%s\n' "$name"
)");
    }

    // The most runs any run saw at once; 0 before the first run.
    int peak() const {
        std::ifstream seen(folder / "seen");
        int most = 0;
        for (int count = 0; seen >> count;) most = std::max(most, count);
        return most;
    }
};

// A stand-in for the converter, scripted by the source file's name before
// the runs start: how long each conversion takes and how it ends. One that
// ends well writes a small file at the job's destination through the file
// layer, as the real converter does; a delay and a wait end early with
// Cancelled when the run's stop reaches them. It notes the starts, to be read
// once the runs ended.
class ScriptedConverter {
public:
    enum class Ending { write, fail, noSpace, waitForStop };
    struct Step {
        Ending ending = Ending::write;
        std::chrono::milliseconds delay{5};
    };

    void script(const std::string& sourceName, Step step) { state_->steps[sourceName] = step; }
    // Runs at the start of every conversion, on the conversion's thread.
    void onStart(std::function<void(const Converter::Job&)> hook) { state_->onStart = hook; }
    ConversionRunner::ConvertTrack function() const {
        return [state = state_](const Converter::Job& job, std::stop_token stop) {
            state->convert(job, std::move(stop));
        };
    }

    const Texts& started() const { return state_->started; }

private:
    struct State {
        TempDir staging;  // the finished files before they are placed
        std::map<std::string, Step> steps;
        std::function<void(const Converter::Job&)> onStart;
        std::mutex mutex;  // guards `started`
        Texts started;

        void convert(const Converter::Job& job, std::stop_token stop) {
            const std::string name = job.source.filename().string();
            const Step step = steps.contains(name) ? steps.at(name) : Step{};
            std::unique_lock lock(mutex);
            started.push_back(name);
            lock.unlock();
            if (onStart) onStart(job);
            const bool waited = sleepFor(
                step.ending == Ending::waitForStop ? std::chrono::hours(1) : step.delay, stop);
            if (!waited) throw Cancelled();
            if (step.ending == Ending::fail) throw ConversionError("変換できません: " + name);
            if (step.ending == Ending::noSpace) throw PosixFS::NoSpace();
            if (step.ending == Ending::waitForStop) return;
            // A copy that finds no room leaves its staged file to the staging folder.
            const fs::path staged = staging / makeUuid();
            writeFile(staged, "converted " + job.meta.title);
            PosixFS::copy(staged, *job.root, job.destination);
            fs::remove(staged);
        }
    };

    // Shared with every function handed out: a run may outlive the test's copy.
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Items numbered from 1 in plan order: item n comes from "<n>.flac" and goes
// to "MUSIC/<album folder>/<n> t<n>.mp3"; albums are numbered in list order.
inline ConversionPlan planOf(const std::vector<std::pair<std::string, int>>& albums) {
    ConversionPlan plan;
    for (const auto& [album, tracks] : albums) {
        for (int track = 1; track <= tracks; ++track) {
            const std::string n = std::to_string(plan.items.size() + 1);
            plan.items.push_back(
                {"/music/" + n + ".flac",
                 TrackMeta("t" + n, "Artist", "Artist", album, std::to_string(track), "", "", ""),
                 n, "MUSIC/" + album + "/" + n + " t" + n + ".mp3",
                 static_cast<std::int64_t>(plan.albums.size())});
        }
        plan.albums.push_back({"Artist", album});
    }
    return plan;
}

// A file's bytes as a run would have tagged them for an album of
// `albumArtist`: an ID3 tag naming the album, then `content`.
inline std::string ownedBy(const std::string& albumArtist, const std::string& album,
                           std::string_view content) {
    ID3Writer::Tags tags;
    tags.albumIdentity =
        AlbumIdentity::of(TrackMeta("", albumArtist, albumArtist, album, "", "", "", ""));
    return std::string(asText(ID3Writer{}.encodeV2(tags, 0))) + std::string(content);
}

// The same for planOf's album `album`.
inline std::string ownedBy(const std::string& album, std::string_view content) {
    return ownedBy("Artist", album, content);
}

// `count` albums "Album 1", "Album 2", … of one track each.
inline ConversionPlan separateAlbums(int count) {
    std::vector<std::pair<std::string, int>> albums;
    for (int i = 1; i <= count; ++i) albums.push_back({"Album " + std::to_string(i), 1});
    return planOf(albums);
}

// A runner writing to `card` with `jobs` conversions at once and no loudness
// pass; the room on the card is unknown, so only what a test says of it counts.
inline ConversionRunner runnerFor(const fs::path& card, std::int64_t jobs = 1,
                                  const fs::path& ffmpeg = "/nonexistent/ffmpeg",
                                  const fs::path& music = "/nonexistent/music") {
    ConversionRunner runner{ffmpeg, DeviceProfile("test", "Test"), music, card, {}, {}, nullptr};
    runner.options.jobs = jobs;
    runner.options.loudnessTarget = std::nullopt;
    runner.options.freeSpace = [](const fs::path&) { return std::optional<std::int64_t>(); };
    return runner;
}

// Every event of a started run up to its end; waits for the run's thread too.
inline std::vector<ConversionEvent> drain(ConversionRunner::Handle& handle) {
    std::vector<ConversionEvent> events;
    while (std::optional<ConversionEvent> event = handle.events.next()) events.push_back(*event);
    handle.task->wait();
    return events;
}

// Every event of a run of `plan` (or of its own planning) with `converter`.
inline std::vector<ConversionEvent> runToTheEnd(const ConversionRunner& runner,
                                                std::optional<ConversionPlan> plan,
                                                const ScriptedConverter& converter = {}) {
    ConversionRunner::Handle handle = runner.start(std::move(plan), converter.function());
    return drain(handle);
}

// The relative paths of every file below `root`, in name order.
inline Texts pathsBelow(const fs::path& root) {
    Texts paths;
    for (const auto& [path, content] : filesBelow(root)) paths.push_back(path);
    return paths;
}

// Tagged tones of `seconds` each from "album folder|title|artist|track" rows.
inline void makeTones(const fs::path& music, double seconds, const Texts& rows) {
    for (const std::string& row : rows) {
        Texts f(1);
        for (const char c : row) c == '|' ? f.emplace_back() : f.back() += c;
        const std::string album = fs::path(f[0]).filename();
        makeTone(
            music / f[0] / (f[1] + ".flac"),
            {.seconds = seconds,
             .metadata = {{"title", f[1]}, {"artist", f[2]}, {"album", album}, {"track", f[3]}}});
    }
}

// A run over `music` by the real converter into the folder `card`, which is there.
inline std::vector<ConversionEvent> exportTo(const fs::path& card, const fs::path& music,
                                             const std::function<void(ConversionRunner&)>& adjust) {
    fs::create_directories(card);
    ConversionRunner runner = runnerFor(card, 2, "/usr/bin/ffmpeg", music);
    adjust(runner);
    ConversionRunner::Handle handle = runner.start(std::nullopt);
    return drain(handle);
}

// The md5 of the decoded audio, which tags do not change.
inline std::string audioMD5(const fs::path& file) {
    const ShellResult result = runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                                           file.string(), "-map", "0:a", "-f", "md5", "-"});
    EXPECT_EQ(result.exitCode, 0) << file;
    return result.output;
}

// One album of two one-second tracks ("Song 1" or `firstTitle`, "Song 2")
// whose tones are the album's own.
inline void makeAlbum(const fs::path& music, const std::string& artist, const std::string& album,
                      int frequency, const std::string& firstTitle = "Song 1") {
    for (int track = 1; track <= 2; ++track) {
        const std::string title = track == 1 ? firstTitle : "Song 2";
        makeTone(music / artist / album / (std::to_string(track) + ".flac"),
                 {.seconds = 1.0,
                  .frequency = frequency + track,
                  .metadata = {{"title", title},
                               {"artist", artist},
                               {"album", album},
                               {"track", std::to_string(track)}}});
    }
}

// A run of the real converter over the selected artists or "artist/album"s
// (all for an empty selection) of `music` into the folder `card`.
inline std::vector<ConversionEvent> exportSelection(const fs::path& card, const fs::path& music,
                                                    const DeviceProfile& profile,
                                                    const std::set<std::string>& selection) {
    return exportTo(card, music, [&](ConversionRunner& runner) {
        runner.profile = profile;
        runner.artists = selection;
    });
}

// Each album folder below `root` (the folders holding files) with the audio
// md5s of its files in name order.
inline std::map<std::string, Texts> albumsBelow(const fs::path& root) {
    std::map<std::string, Texts> albums;
    for (const std::string& path : pathsBelow(root)) {
        albums[fs::path(path).parent_path().string()].push_back(audioMD5(root / path));
    }
    return albums;
}

// What an album is when it is exported alone into the empty folder `scratch`.
inline Texts alone(const fs::path& music, const DeviceProfile& profile,
                   const std::string& selection, const fs::path& scratch) {
    exportSelection(scratch, music, profile, {selection});
    const std::map<std::string, Texts> albums = albumsBelow(scratch);
    EXPECT_EQ(albums.size(), 1U);
    return albums.empty() ? Texts{} : albums.begin()->second;
}

// The device profile of the delivered unit `id`.
inline DeviceProfile deliveredProfile(const std::string& id) {
    return ProfileStore::load(
        fs::path(TARVIK_SOURCE_DIR) / "App/Resources/profiles" / (id + ".json"), true);
}

// A unit that takes AAC in M4A with MP4 tags.
inline DeviceProfile aacProfile() {
    DeviceProfile aac("test", "Test");
    aac.audio.codec = DeviceProfile::Audio::Codec::aac;
    aac.tags.format = DeviceProfile::Tags::Format::mp4;
    return aac;
}

// A unit that reads only the ID3v1 trailer, in `encoding`.
inline DeviceProfile id3v1Profile(DeviceProfile::Tags::Encoding encoding) {
    DeviceProfile v1("test", "Test");
    v1.tags.format = DeviceProfile::Tags::Format::id3v1;
    v1.tags.encoding = encoding;
    return v1;
}

// Titles longer than a trailer's 30-byte field, each with the encoding that
// writes it there.
inline std::vector<std::pair<DeviceProfile::Tags::Encoding, std::string>> titlesPastTheTrailer() {
    return {{DeviceProfile::Tags::Encoding::latin1, "A Title Far Longer Than Thirty Bytes"},
            {DeviceProfile::Tags::Encoding::shiftJIS,
             "\u3068\u3066\u3082\u9577\u3044\u66F2\u306E\u540D\u524D"
             "\u304C\u4E09\u5341\u30D0\u30A4\u30C8\u3092\u8D85\u3048\u308B"}};
}

// Makes a card file look written before files named their album and song:
// the frames that carry them are renamed, so that no reader takes them for
// ones.
inline void forgetAlbum(const fs::path& file) {
    std::string bytes = readFile(file);
    const std::size_t first = bytes.find("TXXX");
    for (std::size_t at = first; at != std::string::npos && at < first + 4096;
         at = bytes.find("TXXX", at + 4)) {
        bytes.replace(at, 4, "TXXY");
    }
    writeFile(file, bytes);
}

}  // namespace tarvik::testing
