// Replaying the kept inputs of the fuzz targets linked into a folder's test
// program: every file in `corpus`/<target>/ is run through its target, which
// must return (a crash or sanitizer report ends the program, another
// exception fails the test), and within a minute: an input still running
// then ends the program with its name, as a hang. A folder there that names
// no linked target fails too, so that a renamed target never leaves its
// inputs unplayed.
#pragma once

#include <filesystem>

namespace tarvik::testing {

void replayFuzzCorpus(const std::filesystem::path& corpus);

}  // namespace tarvik::testing
