// Rewriting the Vorbis comments of a FLAC file held in memory: the comments
// for the eight track fields are replaced, every other comment, the vendor
// string, every other metadata block and the audio frames are kept byte for
// byte. Pure and stateless, callable from any thread; a file that isn't FLAC
// or whose metadata can't be walked throws ConversionError.
#pragma once

#include <string_view>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/Bytes.hpp"

namespace tarvik::FLACComments {

// The whole new file. The comment block goes second, right after the stream
// information; `fileName` only names the file in the message for non-FLAC data.
Bytes rewrite(const Bytes& file, const TrackMeta& meta, std::string_view fileName);

}  // namespace tarvik::FLACComments
