// ID3v2 tags built and walked byte by byte, for the tests of the code that
// writes, edits and reads them. Frames are walked by their declared sizes, as
// a unit's reader would; the walk trusts the tag (tests hand it good ones).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Core/Platform/Bytes.hpp"

namespace tarvik::testing::id3v2 {

// A text frame: encoding byte 0 and `text`, in the frame layout of version `major` (3 or 4).
Bytes textFrame(std::string_view id, std::string_view text, int major = 3);

// A tag of version `major` with header `flags`: the frames, then `padding` zero bytes.
Bytes tag(int major, std::uint8_t flags, const std::vector<Bytes>& frames,
          std::size_t padding = 16);

struct Parsed {
    std::vector<std::string> ids;
    std::vector<Bytes> frames;  // whole, header included
    std::vector<Bytes> bodies;
    Bytes rest;  // what follows the tag
};
// The tag at the start of `file`.
Parsed parse(const Bytes& file);

}  // namespace tarvik::testing::id3v2
