// Tells whether an encoder's output holds any audio. A source whose audio
// decodes to nothing (a damaged or cut file) still makes ffmpeg succeed, with
// a file of headers and tags only; the converter asks here before anything
// reaches the card. Stateless, any thread; nothing here throws.
#pragma once

#include <filesystem>

#include "Core/Platform/Bytes.hpp"

namespace tarvik::EncodedAudio {

// A bare MP3 stream as ffmpeg writes it with "-write_xing 1": its first frame
// carries the number of audio frames that follow. A stream without that
// header counts as audio when it holds any bytes.
bool mp3HasFrames(const Bytes& stream);

// An M4A file whose sound track lasts longer than nothing. A file that can't
// be read as MP4 holds no audio.
bool m4aHasFrames(const std::filesystem::path& file);

}  // namespace tarvik::EncodedAudio
