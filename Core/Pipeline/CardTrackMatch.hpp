// Whether a file on the card that carries no album identity (written by an
// earlier version or another program) is a planned track's: its tags read as
// the run would write them, and its length within one second of the source's.
// Asks ffmpeg twice, so a run asks only for such files. Stateless; any
// thread. A file or source that ffmpeg can't read is no match; a stop
// before or during either probe throws Cancelled (never "no match").
#pragma once

#include <filesystem>
#include <stop_token>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik::CardTrackMatch {

bool sameTrack(const FFmpegRunner& ffmpeg, const DeviceProfile& profile,
               const ConversionPlan::Item& item, const std::filesystem::path& cardFile,
               std::stop_token stop);

}  // namespace tarvik::CardTrackMatch
