// How long an audio file plays, from its own headers, without decoding it or
// running a child process: FLAC's stream information, the sample counts of
// WAV (RF64's 64-bit sizes, a compressed stream's fact chunk) and AIFF, the
// audio track of an MP4 (its media header and edit list, never the movie's
// length, which a video track may set), an MP3's Xing, Info or VBRI frame or
// else its frames counted. Good for telling whether two files hold the same
// track to within a second, never for anything exact. Also whether the
// file's bytes are all there that its headers speak of, which a copy that
// ended early leaves wrong. Pure, any thread; the bytes may come from
// anyone, so every size is checked before it is used. No length where the
// headers give none that is true (a stream written before its length was
// known, a fragmented MP4) or the file can't be read; a stop during a frame
// count throws Cancelled.
#pragma once

#include <optional>
#include <stop_token>

#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::AudioLength {

struct Reading {
    std::optional<double> seconds;
    // The bytes the headers speak of are there: an MP3's Info or Xing byte
    // count, its last frame, an MP4's audio samples. True where no header
    // tells.
    bool whole = true;
};

Reading read(ByteSource& file, std::stop_token stop = {});

std::optional<double> seconds(ByteSource& file, std::stop_token stop = {});

}  // namespace tarvik::AudioLength
