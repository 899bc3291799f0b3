// Reading a card file's album identity back: only our own frame or item
// counts, and no bytes of a card file, however made, are read past the frame
// or item they belong to. The inputs that once broke the reader are kept in
// testdata/fuzz/AlbumIdentity and read again here.
#include <gtest/gtest.h>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/M4ATesting.hpp"
#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Platform/Errors.hpp"

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

// An atom in the 64-bit form: size 1, the type, then the whole size.
std::string wideBox(std::string_view type, const std::string& body) {
    std::string out = std::string("\0\0\0\1", 4) + std::string(type) + std::string(8, '\0');
    testing::m4a::put(out, 8, 16 + body.size(), 8);
    return out + body;
}

// The album's and the song's own frames or items, and the album's item as
// files exported before were written ("album", which ffmpeg showed as the
// album), are read; nothing else is.
TEST(AlbumIdentityRead, OnlyOurOwnFrameOrItemCounts) {
    const std::string id = "0123abcd";
    using Carried = AlbumIdentity::Carried;
    const std::vector<std::tuple<std::string, std::string, Carried>> cases = {
        {"ours.mp3", mp3With("TARVIK_ALBUM", id), {id, std::nullopt}},
        {"the song's.mp3", mp3With("TARVIK_TRACK", id), {std::nullopt, id}},
        {"another description.mp3", mp3With("OTHER_ALBUM", id), {}},
        {"ours.m4a", m4aWith("org.tarvik", "TARVIK_ALBUM", id), {id, std::nullopt}},
        {"the song's.m4a", m4aWith("org.tarvik", "TARVIK_TRACK", id), {std::nullopt, id}},
        {"as exported before.m4a", m4aWith("org.tarvik", "album", id), {id, std::nullopt}},
        {"another name.m4a", m4aWith("org.tarvik", "title", id), {}},
        {"another mean.m4a", m4aWith("org.other", "TARVIK_ALBUM", id), {}},
    };
    testing::TempDir temp;
    for (const auto& [name, content, expected] : cases) {
        testing::writeFile(temp / name, content);
        EXPECT_EQ(AlbumIdentity::carried(temp / name), expected) << name;
        EXPECT_EQ(AlbumIdentity::read(temp / name), expected.album) << name;
    }
}

// A file's bytes that count the reads asked of them, and fire the stop
// while they answer the `stopAt`-th.
class CountingSource final : public ByteSource {
public:
    explicit CountingSource(const std::string& bytes, std::size_t stopAt = 0)
        : bytes_(bytes.begin(), bytes.end()), source_(bytes_), stopAt_(stopAt) {}
    std::uint64_t size() const override { return source_.size(); }
    Bytes read(std::uint64_t offset, std::size_t length) override {
        if (++reads == stopAt_) stop.request_stop();
        return source_.read(offset, length);
    }

    std::stop_source stop;
    std::size_t reads = 0;

private:
    Bytes bytes_;
    MemorySource source_;
    std::size_t stopAt_;
};

// Every size is taken as the formats say (a 64-bit size, a size 0 that runs
// to the end of the parent); one that runs past its parent or wraps round
// past the end of the numbers, however large, leaves the file without an
// identity: the walk never goes back, never loops and never reads past it.
// A walk that meets more atoms than any real file holds gives up.
TEST(AlbumIdentityRead, AtomAndFrameSizesNeverTakeTheWalkBackOrPastItsParent) {
    const std::string id = "0123abcd";
    const std::string ours = m4aWith("org.tarvik", "album", id);
    const std::string ftyp = ours.substr(0, 12);
    const std::string moov = ours.substr(12);
    const auto withSize = [](std::string atom, std::uint64_t size, std::size_t at = 0) {
        testing::m4a::put(atom, at, size, at == 0 ? 4 : 8);
        return atom;
    };
    const auto wrapping = [](std::uint64_t to, std::uint64_t at) {
        std::string atom = wideBox("free", "");
        testing::m4a::put(atom, 8, to - at, 8);  // wraps round to `to`
        return atom;
    };
    std::string crowded = ftyp;
    for (std::size_t atom = 0; atom <= mp4::atomsInAll; ++atom) crowded += box("free", "");
    Bytes beyond =
        id3v2::tag(3, 0,
                   {id3::frame("TXXX", concat({{0}, bytes("TARVIK_ALBUM"), {0}, bytes(id)}),
                               ID3Writer::Version::v2_3)},
                   0);
    beyond[10 + 7] += 1;  // the frame claims one byte more than the tag holds
    Bytes extended = id3v2::tag(3, 0x40, {}, 0);
    extended.insert(extended.begin() + 10, {0xFF, 0xFF, 0xFF, 0xF0});
    const std::vector<std::tuple<std::string, std::string, std::optional<std::string>>> cases = {
        {"a 64-bit moov", ftyp + wideBox("moov", moov.substr(8)), id},
        {"a moov of size 0, to the end", ftyp + withSize(moov, 0), id},
        {"an atom past the end", ftyp + withSize(moov, moov.size() + 1), std::nullopt},
        {"a 64-bit atom past the end",
         ftyp + withSize(wideBox("moov", moov.substr(8)), std::uint64_t{1} << 40, 8), std::nullopt},
        {"an atom wrapping round to the start", ftyp + wrapping(0, 12) + moov, std::nullopt},
        {"a 64-bit size shorter than its header", ftyp + wrapping(12, 12) + moov, std::nullopt},
        {"more atoms than any real file", crowded + moov, std::nullopt},
        {"a frame past its tag", std::string(asText(beyond)) + "audio", std::nullopt},
        {"an extended header past its tag", std::string(asText(extended)), std::nullopt},
    };
    for (const auto& [name, content, expected] : cases) {
        CountingSource source(content);
        EXPECT_EQ(AlbumIdentity::read(source), expected) << name;
        // A few atom headers on the way down, each read once.
        if (content != crowded + moov) {
            EXPECT_LE(source.reads, 24u) << name;
        }
    }
}

// A stop is heeded inside a file, before its next read: the ID3 tag, the
// check for an M4A and each atom header of the walk.
TEST(AlbumIdentityRead, AStopEndsTheReadBeforeTheFilesNextRead) {
    const std::string m4a = m4aWith("org.tarvik", "album", "0123abcd");
    for (std::size_t stopAt : {1, 2, 3, 5}) {
        CountingSource source(m4a, stopAt);
        EXPECT_THROW(AlbumIdentity::read(source, source.stop.get_token()), Cancelled) << stopAt;
        EXPECT_EQ(source.reads, stopAt);
    }
    std::stop_source stopped;
    stopped.request_stop();
    testing::TempDir temp;
    testing::writeFile(temp / "ours.m4a", m4a);
    EXPECT_THROW(AlbumIdentity::read(temp / "ours.m4a", stopped.get_token()), Cancelled);
}

// A UTF-16 value of odd length ends inside its last unit: it is read up to
// there, never a byte past the frame (the sanitizer would stop the test).
TEST(AlbumIdentityRead, InputsThatOnceBrokeTheReaderAreReadSafely) {
    const fs::path kept = fs::path(TARVIK_SOURCE_DIR) / "Core/Convert/testdata/fuzz/AlbumIdentity";
    const std::map<std::string, std::optional<std::string>> expected = {
        {"txxx-utf16-odd-length-value.mp3", "ab"},
        {"atom-size-wrapping-round-below-the-end.m4a", std::nullopt}};
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
