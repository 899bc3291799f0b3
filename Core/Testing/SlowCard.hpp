// Card files that take long to read for the tests of a stop while a card is
// read: each an M4A head of many empty atoms, one small read each, within
// the bounds of the identity read's walk. Header only.
#pragma once

#include <filesystem>
#include <string>

#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

// `count` such files in `folder` ("old 1.m4a", …): seconds to read in all.
inline void writeSlowCardFiles(const std::filesystem::path& folder, int count = 40) {
    std::string file = std::string("\0\0\0\x0C", 4) + "ftypM4A ";
    const std::string empty = std::string("\0\0\0\x08", 4) + "free";
    for (int atom = 0; atom < 60000; ++atom) file += empty;
    for (int at = 1; at <= count; ++at) {
        writeFile(folder / ("old " + std::to_string(at) + ".m4a"), file);
    }
}

}  // namespace tarvik::testing
