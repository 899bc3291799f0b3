// Test-only byte surgery on real songs for the tidy tests: tags as other
// taggers leave them, which no writer of ours makes (bytes in a frame that
// are not its encoding, a second FLAC comment block). Done by Python on the
// file as ffmpeg or mutagen wrote it. Not part of the library.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {

// Puts `hex` as the text of the MP3's title frame (ID3v2.4), marked UTF-8
// whatever the bytes are, as older Japanese taggers did with Shift-JIS.
inline void putTitleBytes(const std::filesystem::path& file, const std::string& hex) {
    const char* script = R"(
import sys
from mutagen.id3 import ID3, TIT2
path, raw = sys.argv[1], bytes.fromhex(sys.argv[2])
tags = ID3(path)
tags.add(TIT2(encoding=3, text="X" * len(raw)))
tags.save(v2_version=4)
data = bytearray(open(path, "rb").read())
body = data.index(b"TIT2") + 10
assert data[body:body + 1 + len(raw)] == b"\x03" + b"X" * len(raw)
data[body + 1:body + 1 + len(raw)] = raw
open(path, "wb").write(data)
)";
    const ShellResult result = runCommand({systemPython, "-c", script, file.string(), hex});
    EXPECT_EQ(result.exitCode, 0) << file;
}

// Removes the MP3's ID3v2 tag, leaving what follows it (an ID3v1 trailer
// among it) as it was.
inline void removeID3v2(const std::filesystem::path& file) {
    const char* script = R"(
import sys
data = open(sys.argv[1], "rb").read()
assert data[:3] == b"ID3"
size = sum(b << (7 * (3 - i)) for i, b in enumerate(data[6:10])) + 10
open(sys.argv[1], "wb").write(data[size + (10 if data[5] & 0x10 else 0):])
)";
    const ShellResult result = runCommand({systemPython, "-c", script, file.string()});
    EXPECT_EQ(result.exitCode, 0) << file;
}

// Adds a second comment block right after the FLAC file's first one, its
// comments given as "KEY=value" lines.
inline void addCommentBlock(const std::filesystem::path& file, const std::string& comments) {
    const char* script = R"(
import sys
path, comments = sys.argv[1], sys.argv[2].encode().split(b"\n")
data = bytearray(open(path, "rb").read())
at, blocks = 4, []
while True:
    header = data[at]
    length = int.from_bytes(data[at + 1:at + 4], "big")
    blocks.append((header & 0x7F, bytes(data[at + 4:at + 4 + length])))
    at += 4 + length
    if header & 0x80:
        break
vendor = b"other tagger"
body = len(vendor).to_bytes(4, "little") + vendor + len(comments).to_bytes(4, "little")
for comment in comments:
    body += len(comment).to_bytes(4, "little") + comment
first = [kind for kind, _ in blocks].index(4)
blocks.insert(first + 1, (4, body))
out = bytearray(b"fLaC")
for i, (kind, body) in enumerate(blocks):
    out += bytes([kind | (0x80 if i == len(blocks) - 1 else 0)]) + len(body).to_bytes(3, "big") + body
open(path, "wb").write(out + data[at:])
)";
    const ShellResult result = runCommand({systemPython, "-c", script, file.string(), comments});
    EXPECT_EQ(result.exitCode, 0) << file;
}

}  // namespace tarvik::testing
