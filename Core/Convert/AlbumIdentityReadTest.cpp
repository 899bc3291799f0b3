// Reading a card file's album identity back: only our own frame or item
// counts, and no bytes of a card file, however made, are read past the frame
// or item they belong to. The inputs that once broke the reader are kept in
// testdata/fuzz/AlbumIdentity and read again here.
#include <gtest/gtest.h>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/M4ATesting.hpp"

namespace tarvik {
namespace {

using testing::m4a::box;

// An M4A file's head whose item list holds one freeform item.
std::string m4aWith(std::string_view mean, std::string_view name, std::string_view value) {
    const std::string zero(4, '\0');
    const std::string item =
        box("----", box("mean", zero + std::string(mean)) + box("name", zero + std::string(name)) +
                        box("data", std::string("\0\0\0\1", 4) + zero + std::string(value)));
    const std::string meta =
        box("meta", zero + box("hdlr", std::string(25, '\0')) + box("ilst", item));
    return box("ftyp", "M4A ") + box("moov", box("udta", meta));
}

// An MP3 file's ID3v2.3 tag holding one user text frame.
std::string mp3With(std::string_view description, std::string_view value) {
    const Bytes frame =
        id3::frame("TXXX", concat({{0x00}, bytes(description), {0x00}, bytes(value)}),
                   ID3Writer::Version::v2_3);
    return std::string(asText(id3v2::tag(3, 0, {frame}, 0))) + "audio";
}

TEST(AlbumIdentityRead, OnlyOurOwnFrameOrItemCounts) {
    const std::string id = "0123abcd";
    const std::vector<std::tuple<std::string, std::string, std::optional<std::string>>> cases = {
        {"ours.mp3", mp3With("TARVIK_ALBUM", id), id},
        {"another description.mp3", mp3With("OTHER_ALBUM", id), std::nullopt},
        {"ours.m4a", m4aWith("org.tarvik", "album", id), id},
        {"another name.m4a", m4aWith("org.tarvik", "title", id), std::nullopt},
        {"another mean.m4a", m4aWith("org.other", "album", id), std::nullopt},
    };
    testing::TempDir temp;
    for (const auto& [name, content, expected] : cases) {
        testing::writeFile(temp / name, content);
        EXPECT_EQ(AlbumIdentity::read(temp / name), expected) << name;
    }
}

// A UTF-16 value of odd length ends inside its last unit: it is read up to
// there, never a byte past the frame (the sanitizer would stop the test).
TEST(AlbumIdentityRead, InputsThatOnceBrokeTheReaderAreReadSafely) {
    const fs::path kept = fs::path(TARVIK_SOURCE_DIR) / "Core/Convert/testdata/fuzz/AlbumIdentity";
    const std::map<std::string, std::optional<std::string>> expected = {
        {"txxx-utf16-odd-length-value.mp3", "ab"}};
    std::size_t read = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(kept)) {
        const std::string name = entry.path().filename().string();
        const std::optional<std::string> identity = AlbumIdentity::read(entry.path());
        if (expected.contains(name)) {
            EXPECT_EQ(identity, expected.at(name)) << name;
        }
        ++read;
    }
    EXPECT_EQ(read, expected.size());
}

}  // namespace
}  // namespace tarvik
