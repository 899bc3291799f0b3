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
    // As the headers tell it. Where the file is not whole they may tell more
    // than is there (a frame count, a sample count): then the audio's true
    // length is not known from them.
    std::optional<double> seconds;
    // The bytes the headers speak of are there. Not so where the file ended
    // inside the ID3 tag in front of its audio, holds no audio frame behind
    // a tag, or holds less than its headers tell: an MP3's Info, Xing or
    // VBRI byte count, its last frame, an MP4's movie and media atoms and
    // audio samples, a WAV or AIFF chunk, FLAC's metadata, an ASF header.
    // True as far as its bytes go where no header tells (a stream without
    // a frame count, a piped FLAC or WAV, a fragmented MP4, Ogg).
    bool whole = true;
};

Reading read(ByteSource& file, std::stop_token stop = {});

std::optional<double> seconds(ByteSource& file, std::stop_token stop = {});

}  // namespace tarvik::AudioLength
