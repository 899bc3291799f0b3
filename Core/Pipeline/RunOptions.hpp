// The options of one export run as the application sets them: loudness
// target, how many conversions run at once, the reserve kept free on the
// card, dry run, the artist aliases, the card paths carried over from earlier
// cards, and an optional replacement for the free-space figure. A plain value
// that each runner copies; only `freeSpace` runs code, on any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "Core/Naming/ArtistAliases.hpp"

namespace tarvik {

struct RunOptions {
    // Bytes free on the destination's volume, or nothing when undetermined.
    using FreeSpace = std::function<std::optional<std::int64_t>(const std::filesystem::path&)>;

    std::optional<double> loudnessTarget = -14.0;  // LUFS; absent: no loudness normalisation
    // Carried for the caller only: titles are looked up exactly when the
    // runner holds a catalogue.
    bool lookup = false;
    std::int64_t jobs = defaultJobs(std::thread::hardware_concurrency());
    std::int64_t reserveMB = 50;  // MiB kept free on top of the per-track headroom
    bool dryRun = false;
    ArtistAliases aliases;
    // The tracks earlier cards took, not written in this run: CarryOver
    // entries (or, stored by older versions, NFC planned paths).
    std::set<std::string> exclude;
    FreeSpace freeSpace;

    // One processor is left to the rest of the desktop: count − 1, at least 1.
    // A count of 0 (unknown) gives 1.
    static std::int64_t defaultJobs(unsigned processorCount);
};

}  // namespace tarvik
