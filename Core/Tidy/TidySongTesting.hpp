// Test-only byte surgery on real songs for the tidy tests: tags as other
// taggers leave them, which no writer of ours makes (bytes in a frame that
// are not its encoding, an ID3v2 tag without text or with an extended
// header or a footer, a second FLAC comment block). Done by Python on the
// file as ffmpeg or mutagen wrote it. Not part of the library.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "Core/Convert/M4ATesting.hpp"
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

// Gives the MP3, whose ID3v2 tag goes, one that holds no text, as some
// taggers leave it: the JPEG `cover` alone where one is given, else
// padding alone.
inline void putTextlessTag(const std::filesystem::path& file,
                           const std::optional<std::filesystem::path>& cover) {
    removeID3v2(file);
    const char* script = R"(
import sys
path, cover = sys.argv[1], sys.argv[2]
def syncsafe(n): return bytes((n >> s) & 0x7F for s in (21, 14, 7, 0))
frames = b""
if cover:
    body = b"\x00image/jpeg\x00\x03\x00" + open(cover, "rb").read()
    frames = b"APIC" + len(body).to_bytes(4, "big") + b"\x00\x00" + body
body = frames + bytes(512)
data = open(path, "rb").read()
open(path, "wb").write(b"ID3\x03\x00\x00" + syncsafe(len(body)) + body + data)
)";
    const ShellResult result = runCommand(
        {systemPython, "-c", script, file.string(), cover ? cover->string() : std::string()});
    EXPECT_EQ(result.exitCode, 0) << file;
}

// Gives the MP3's ID3v2 tag, its frames kept, a `shape` other writers
// leave: "extended" (an extended header, the padding kept), "crc" (one
// holding a CRC of the frames, version 4 only) or "footer" (version 4 only:
// no padding, the header repeated as "3DI" after the frames).
inline void reshapeTag(const std::filesystem::path& file, const std::string& shape) {
    const char* script = R"(
import sys
path, shape = sys.argv[1], sys.argv[2]
def syncsafe(n): return bytes((n >> s) & 0x7F for s in (21, 14, 7, 0))
data = open(path, "rb").read()
assert data[:3] == b"ID3" and data[5] == 0
major = data[3]
end = 10 + sum(b << (7 * (3 - i)) for i, b in enumerate(data[6:10]))
at, frames = 10, b""
while at + 10 <= end and data[at] != 0:
    size = int.from_bytes(data[at + 4:at + 8], "big")
    if major == 4: size = sum(b << (7 * (3 - i)) for i, b in enumerate(data[at + 4:at + 8]))
    frames += data[at:at + 10 + size]
    at += 10 + size
padding = bytes(end - at)
flags, extended, footer = 0, b"", b""
if shape == "extended" and major == 3:
    flags, extended = 0x40, (6).to_bytes(4, "big") + b"\x00\x00" + len(padding).to_bytes(4, "big")
elif shape == "extended":
    flags, extended = 0x40, syncsafe(6) + b"\x01\x00"
elif shape == "crc":
    assert major == 4
    flags, extended = 0x40, syncsafe(12) + b"\x01\x20\x05" + bytes(5)
else:
    assert shape == "footer" and major == 4
    flags, padding = 0x10, b""
header = bytes([major, 0, flags]) + syncsafe(len(extended) + len(frames) + len(padding))
if flags & 0x10: footer = b"3DI" + header
open(path, "wb").write(b"ID3" + header + extended + frames + padding + footer + data[end:])
)";
    const ShellResult result = runCommand({systemPython, "-c", script, file.string(), shape});
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

// What an M4A that ffmpeg made (its moov last, holding udta/meta/ilst) is
// left without, as files of other writers come: "udta" (no user data),
// "meta" (user data of another kind only), "ilst" (a meta holding its
// handler alone), "foreign" (that meta's handler not iTunes').
inline std::string withoutItemList(const std::string& file, const std::string& form) {
    using namespace m4a;
    const std::size_t moov = atom(file, "moov"), udta = atom(file, "udta", moov),
                      meta = atom(file, "meta", udta), list = atom(file, "ilst", meta);
    EXPECT_EQ(moov + get32(file, moov), file.size()) << "the moov is not last";
    std::string out = file;
    const auto cut = [&](std::size_t at, std::size_t length, const std::string& instead,
                         std::vector<std::size_t> holders) {
        out.replace(at, length, instead);
        for (std::size_t holder : holders) {
            put(out, holder, get32(file, holder) - length + instead.size());
        }
    };
    if (form == "udta") cut(udta, get32(file, udta), "", {moov});
    if (form == "meta") {
        cut(meta, get32(file, meta), box("name", std::string(4, '\0') + "tone"), {moov, udta});
    }
    if (form == "ilst" || form == "foreign") cut(list, get32(file, list), "", {moov, udta, meta});
    if (form == "foreign") out.replace(atom(out, "mdir", meta) + 4, 4, "ID32");
    return out;
}

// An item of the numeric genre ("gnre"), as older encoders wrote it: the
// number of an ID3v1 genre plus one.
inline std::string numericGenre(int genre) {
    return m4a::box("gnre",
                    m4a::box("data", std::string(8, '\0') + '\0' + static_cast<char>(genre + 1)));
}

}  // namespace tarvik::testing
