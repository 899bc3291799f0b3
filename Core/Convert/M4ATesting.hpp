// What the M4A editor's tests share: ffmpeg's files with the items other
// taggers leave, and byte surgery on their atoms (found by name: the test
// files are small and their audio a plain tone, so a name occurs only as
// that atom's). Sizes are 32-bit big-endian, as ffmpeg writes them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Convert/ConvertTesting.hpp"

namespace tarvik::testing::m4a {

// Where the first atom of this type at or after `from` starts.
inline std::size_t atom(const std::string& file, std::string_view type, std::size_t from = 0) {
    const std::size_t at = file.find(type, from);
    EXPECT_NE(at, std::string::npos) << type;
    return at == std::string::npos ? 0 : at - 4;
}

inline std::uint32_t get32(const std::string& file, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<std::uint8_t>(file[at + i]);
    return value;
}

inline void put(std::string& file, std::size_t at, std::uint64_t value, int width = 4) {
    for (int i = width - 1; i >= 0; --i, value >>= 8) file[at + i] = static_cast<char>(value);
}

// An atom: its size, its type, its body.
inline std::string box(std::string_view type, const std::string& body) {
    std::string out(4, '\0');
    put(out, 0, 8 + body.size());
    return out + std::string(type) + body;
}

inline std::size_t entriesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                  std::filesystem::directory_iterator()));
}

// An ffmpeg file (moov last, or first with "+faststart" among `movflags`)
// with the items other taggers leave (freeform ones among them).
inline std::string taggedFile(const std::filesystem::path& folder, std::string movflags = "") {
    const std::filesystem::path tone = folder / "tone.m4a";
    makeTone(tone, {.seconds = 0.3,
                    .extraArguments = movflags.empty()
                                          ? std::vector<std::string>{}
                                          : std::vector<std::string>{"-movflags", movflags}});
    runScript("mp4_atoms.py", {"add", tone.string()});
    std::string file = readFile(tone);
    std::filesystem::remove(tone);
    return file;
}

// `item` added at the end of the item list, the sizes of the atoms around
// it grown to hold it; where the moov comes first, the chunk offsets of its
// one track moved with the media data.
inline std::string withItem(const std::string& file, const std::string& item) {
    const std::size_t moov = atom(file, "moov"), udta = atom(file, "udta", moov),
                      meta = atom(file, "meta", udta), list = atom(file, "ilst", meta);
    std::string out = file;
    out.insert(list + get32(file, list), item);
    for (std::size_t at : {moov, udta, meta, list}) put(out, at, get32(file, at) + item.size());
    if (moov + get32(file, moov) < file.size()) {
        const std::size_t stco = atom(out, "stco");
        for (std::uint32_t i = 0; i < get32(out, stco + 12); ++i) {
            const std::size_t entry = stco + 16 + 4 * i;
            put(out, entry, get32(out, entry) + item.size());
        }
    }
    return out;
}

}  // namespace tarvik::testing::m4a
