// Independent readers of what the program writes (ffprobe, and mutagen through
// the scripts in Core/Convert/testdata), with the small byte builders that
// tests of binary formats share. A reader whose program fails fails the test.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Platform/Bytes.hpp"

namespace tarvik::testing {

// The standard output of a command that must succeed.
std::string outputOf(const std::vector<std::string>& words);
nlohmann::json jsonOf(const std::vector<std::string>& words);

// One of Core/Convert/testdata's scripts, run by the python3 that has mutagen.
std::string runScript(std::string_view script, const std::vector<std::string>& arguments);
// What mutagen finds in an MP3 (id3_read.py) or an M4A (mp4_read.py).
nlohmann::json mutagenID3(const std::filesystem::path& file);
nlohmann::json mutagenMP4(const std::filesystem::path& file);
// ffprobe's "-show_entries `entries`" of a file, as JSON.
nlohmann::json ffprobe(const std::filesystem::path& file, std::string_view entries);

Bytes bytes(std::string_view text);
// Bytes written as hexadecimal pairs, spaces between them ignored: "49 44 33".
Bytes hex(std::string_view pairs);
Bytes concat(std::initializer_list<Bytes> parts);

}  // namespace tarvik::testing
