// Everything one export needs: the ffmpeg program, the unit's profile, the
// music folder and the selection in it, the destination, the run options and,
// when titles are to be looked up, a catalogue. A value the application builds
// for each planning and each run and never changes afterwards; its operations
// are const and may run on any thread, several at once. Operations that may
// wait take a stop token and end with Cancelled when it fires.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Catalog/MusicCatalog.hpp"
#include "Core/Convert/AudioFileProbe.hpp"
#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Pipeline/ConversionEvent.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/Pipeline/RunOptions.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {

struct ConversionRunner {
    std::filesystem::path ffmpeg;
    DeviceProfile profile;
    std::filesystem::path source;       // the music folder
    std::filesystem::path destination;  // the card's root, or any export folder
    // Artist folder names, or "artist/album"; the empty set selects everything.
    std::set<std::string> artists;
    RunOptions options;
    std::shared_ptr<MusicCatalog> catalog;  // null: titles are not looked up

    // Tag reads that run at once, whatever `options.jobs` says.
    static constexpr std::size_t tagReadWidth = 4;
    // A reading event follows every this many files read.
    static constexpr std::size_t readingReportStep = 50;

    // The dry run: lists the selection, reads every file's tags, evens out
    // artist names, places the tracks under the profile and, with a catalogue,
    // corrects titles album by album before placing again. Never touches the
    // destination. Throws ConversionError when the selection holds no audio
    // file, and Cancelled when `stop` fires; a stopped pass returns no plan.
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
};

}  // namespace tarvik
