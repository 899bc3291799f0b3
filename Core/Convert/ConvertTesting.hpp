// What the conversion tests share: the generators they use, named plainly;
// independent readers of what the program writes (ffprobe, and mutagen
// through the scripts in testdata), where a reader whose program fails fails
// the test; and ID3v2 tags built and walked byte by byte. The walk goes by
// the declared frame sizes, as a unit's reader would, and trusts the tag
// (tests hand it good ones).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Locale.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"

namespace tarvik::testing {

// The standard output of a command that must succeed.
inline std::string outputOf(const std::vector<std::string>& words) {
    const ShellResult result = runCommand(words);
    EXPECT_EQ(result.exitCode, 0) << words.front() << " " << words.back();
    return result.output;
}

// One of testdata's scripts, run by the python3 that has mutagen.
inline std::string runScript(std::string_view script, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {systemPython, TARVIK_SOURCE_DIR "/Core/Convert/testdata/" +
                                                           std::string(script)});
    return outputOf(arguments);
}

// What mutagen finds in an M4A (mp4_read.py) or, by any other name, an MP3 (id3_read.py).
inline nlohmann::json mutagen(const std::filesystem::path& file) {
    const bool m4a = file.extension() == ".m4a";
    return nlohmann::json::parse(runScript(m4a ? "mp4_read.py" : "id3_read.py", {file.string()}));
}

// ffprobe's "-show_entries `entries`" of a file.
inline nlohmann::json ffprobe(const std::filesystem::path& file, std::string_view entries) {
    return nlohmann::json::parse(outputOf({"ffprobe", "-v", "error", "-show_entries",
                                           std::string(entries), "-of", "json", file.string()}));
}

// The summary ffmpeg's loudness filter prints at the end of a run.
inline std::string loudnessSummary(std::string_view loudness, std::string_view peak) {
    return "[Parsed_ebur128_0 @ 0x55d8249aff80] Summary:\n\n  Integrated loudness:\n    I:  " +
           std::string(loudness) +
           " LUFS\n    Threshold: -31.8 LUFS\n\n  True peak:\n    Peak: " + std::string(peak) +
           " dBFS\n";
}

inline Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// Bytes written as hexadecimal pairs, spaces between them ignored: "49 44 33".
inline Bytes hex(std::string_view pairs) {
    Bytes out;
    for (std::size_t at = 0; at + 1 < pairs.size(); at += pairs[at] == ' ' ? 1 : 2) {
        if (pairs[at] != ' ')
            out.push_back(static_cast<std::uint8_t>(
                std::stoi(std::string(pairs.substr(at, 2)), nullptr, 16)));
    }
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace tarvik::testing

namespace tarvik {

namespace fs = std::filesystem;
using testing::bytes;
using testing::concat;
using testing::hex;
using testing::readFile;
using testing::TempDir;
using testing::thrown;
using testing::writeFile;

namespace id3v2 {

// A text frame: encoding byte 0 and `text`, in the frame layout of version `major` (3 or 4).
inline Bytes textFrame(std::string_view id, std::string_view text, int major = 3) {
    return id3::frame(id, concat({{0x00}, bytes(text)}),
                      major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3);
}

// A tag of version `major` with header `flags`: the frames, then `padding` zero bytes.
inline Bytes tag(int major, std::uint8_t flags, const std::vector<Bytes>& frames,
                 std::size_t padding = 16) {
    Bytes body;
    for (const Bytes& frame : frames) body.insert(body.end(), frame.begin(), frame.end());
    body.resize(body.size() + padding, 0);
    const auto size = id3::syncsafe(static_cast<std::uint32_t>(body.size()));
    return concat({bytes("ID3"),
                   {static_cast<std::uint8_t>(major), 0, flags},
                   {size.begin(), size.end()},
                   body});
}

struct Parsed {
    std::vector<std::string> ids;
    std::vector<Bytes> frames;  // whole, header included
    Bytes rest;                 // what follows the tag
};

// The tag at the start of `file`.
inline Parsed parse(const Bytes& file) {
    Parsed parsed;
    const std::size_t end = 10 + id3::readSyncsafe(&file[6]);
    for (std::size_t at = 10; at + 10 <= end && file[at] != 0;) {
        const std::size_t size =
            file[3] == 4 ? id3::readSyncsafe(&file[at + 4]) : id3::readBigEndian32(&file[at + 4]);
        const auto start = file.begin() + static_cast<std::ptrdiff_t>(at);
        const auto stop = start + static_cast<std::ptrdiff_t>(10 + size);
        parsed.ids.emplace_back(start, start + 4);
        parsed.frames.emplace_back(start, stop);
        at += 10 + size;
    }
    parsed.rest.assign(file.begin() + static_cast<std::ptrdiff_t>(end), file.end());
    return parsed;
}

}  // namespace id3v2
}  // namespace tarvik
