// Test-only helpers of the pipeline tests: readable failure output for
// events, and an ffmpeg stand-in that counts how many copies of it run at
// once. Not part of the library.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "Core/Pipeline/ConversionEvent.hpp"
#include "Core/Testing/Script.hpp"

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
    if (event.as<E::Summary>()) *out << "finished";
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

}  // namespace testing
}  // namespace tarvik
