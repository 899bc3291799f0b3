// How long an audio file plays, from its own headers, without decoding it or
// running a child process: FLAC's stream information, the sample counts of
// WAV and AIFF, an MP4's movie header, an MP3's Xing, Info or VBRI frame or
// else its frames counted. Good for telling whether two files hold the same
// track to within a second, never for anything exact. Pure, any thread; the
// bytes may come from anyone, so every size is checked before it is used.
// Nothing where the headers give no length or the file can't be read; a stop
// during a frame count throws Cancelled.
#pragma once

#include <optional>
#include <stop_token>

#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::AudioLength {

std::optional<double> seconds(ByteSource& file, std::stop_token stop = {});

}  // namespace tarvik::AudioLength
