#include <fcntl.h>
#include <unistd.h>

#include "Core/Convert/M4ATesting.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Convert/TagFields.hpp"

namespace tarvik {
namespace {

using namespace testing::m4a;

const TrackMeta meta("New Title", "Artist", "Album Artist", "Album", "3", "1", "2019-04-01",
                     "Rock");

// Damaged files never reach TagLib and nothing is written; an item TagLib
// would lose, or change, makes the edit refused rather than done.
TEST(M4AEdit, DamagedOrLosableFilesAreRefusedUnchanged) {
    TempDir temp;
    const std::string good = taggedFile(temp.path());
    const std::size_t title = atom(good, "\xA9nam"), moov = atom(good, "moov");
    std::string pastParent = good, truncated = good.substr(0, moov + get32(good, moov) / 2),
                emptyItem = good, otherLocale = good;
    put(pastParent, title, get32(good, title) + 4096);
    put(emptyItem, atom(good, "ilst") + 8, 0);
    // The encoder item's data atom: type 1, then a locale TagLib writes as 0.
    put(otherLocale, atom(good, "\xA9too") + 8 + 12, 1);
    // Hostile moovs (the last atom of the file): user data nested far too
    // deep, and a level of far too many empty atoms.
    ASSERT_EQ(moov + get32(good, moov), good.size());
    const auto grownMoov = [&](std::string inside) {
        std::string file = good + inside;
        put(file, moov, get32(good, moov) + inside.size());
        return file;
    };
    std::string nested = std::string(4, '\0') + "udta";
    for (int level = 0; level < 40; ++level) nested = std::string(4, '\0') + "udta" + nested;
    for (std::size_t at = 0; at < nested.size(); at += 8) put(nested, at, nested.size() - at);
    std::string crowded;
    for (int n = 0; n < 5000; ++n) crowded += std::string("\0\0\0\x08", 4) + "free";
    const std::string broken = "タグが壊れています: in.m4a";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {pastParent, broken},
        {truncated, broken},
        {emptyItem, broken},
        {good.substr(0, good.size() - 1), broken},
        {grownMoov(nested), broken},
        {grownMoov(crowded), broken},
        {otherLocale,
         "タグ項目「\u00A9too」は書き換えると元どおりに残せないため、"
         "タグを書き換えませんでした: in.m4a"}};
    for (const auto& [file, message] : cases) {
        writeFile(temp / "in.m4a", file);
        writeFile(temp / "out.m4a", "earlier");
        EXPECT_EQ(thrown<ConversionError>(
                      [&] { TagEditor::write(temp / "in.m4a", meta, temp / "out.m4a"); }),
                  message);
        EXPECT_EQ(readFile(temp / "out.m4a"), "earlier") << message;
        EXPECT_EQ(readFile(temp / "in.m4a"), file) << message;
        EXPECT_EQ(entriesIn(temp.path()), 2u) << message;
        if (message == broken) {
            EXPECT_THROW(TagFields::read(temp / "in.m4a"), ConversionError);
        }
    }

    // Freeform items whose name holds ":" (as some taggers and lookup services
    // write them) would be dropped by TagLib when it saves.
    writeFile(temp / "in.m4a", good);
    testing::outputOf(
        {testing::systemPython, "-c",
         "import sys; from mutagen.mp4 import MP4, MP4FreeForm; f = MP4(sys.argv[1]); "
         "f['----:org.example:GN:ID'] = [MP4FreeForm(b'x')]; f.save()",
         (temp / "in.m4a").string()});
    EXPECT_EQ(
        thrown<ConversionError>([&] {
            TagFields::patch(temp / "in.m4a", {{TagFields::Field::title, "x"}}, temp / "out.m4a");
        }),
        "名前に「:」を含むタグ項目は書き換えると失われるため、書き換えません: in.m4a");
    EXPECT_EQ(readFile(temp / "out.m4a"), "earlier");
}

// A file of more than 4 GiB, its media data behind a 64-bit size and mostly
// a hole, its moov last or first: the edit keeps its length (but for the
// tags), its audio and its holes, and an independent reader finds the new
// tags. With the moov first, everything behind it moves by what the tag grew.
TEST(M4AEdit, FileLargerThanFourGiBKeepsItsAudioAndItsHoles) {
    const std::uint64_t gap = (std::uint64_t{1} << 32) + (std::uint64_t{300} << 20);
    for (const bool movieFirst : {false, true}) {
        TempDir temp;
        const std::string small = taggedFile(temp.path(), movieFirst ? "+faststart" : "");
        // ffmpeg leaves an 8-byte "free" atom before "mdat" for just this: the
        // two headers become one 64-bit header and the samples stay in place.
        const std::size_t mdat = atom(small, "mdat"), free = mdat - 8, moov = atom(small, "moov");
        ASSERT_EQ(small.substr(free + 4, 4), "free");
        ASSERT_EQ(moov < mdat, movieFirst);
        const std::size_t mediaEnd = movieFirst ? small.size() : moov;
        std::string head = small.substr(0, mediaEnd);
        put(head, free, 1);
        head.replace(free + 4, 4, "mdat");
        put(head, free + 8, mediaEnd - free + gap, 8);
        const std::string tail = small.substr(mediaEnd);
        const fs::path source = temp / "big.m4a";
        {
            const int descriptor = ::open(source.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            ASSERT_GE(descriptor, 0);
            ASSERT_EQ(::pwrite(descriptor, head.data(), head.size(), 0),
                      static_cast<ssize_t>(head.size()));
            ASSERT_EQ(
                ::pwrite(descriptor, tail.data(), tail.size(), static_cast<off_t>(mediaEnd + gap)),
                static_cast<ssize_t>(tail.size()));
            ASSERT_EQ(::ftruncate(descriptor, static_cast<off_t>(small.size() + gap)), 0);
            ::close(descriptor);
        }
        const auto decoded = [](const fs::path& file) {
            return testing::outputOf({"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(),
                                      "-map", "0:a", "-f", "md5", "-"});
        };
        const std::string audio = decoded(source);

        TrackMeta longer = meta;
        longer.title = std::string(3000, 't');  // more than the padding holds: the moov grows

        TagEditor::writeM4A(source, longer, temp / "out.m4a");

        EXPECT_EQ(decoded(temp / "out.m4a"), audio) << movieFirst;
        const nlohmann::json read = testing::mutagen(temp / "out.m4a");
        EXPECT_EQ(read["title"], longer.title);
        EXPECT_EQ(read["track"], "3");
        const auto length = fs::file_size(temp / "out.m4a");
        EXPECT_GT(length, gap);
        EXPECT_GT(length, fs::file_size(source));
        EXPECT_LT(length, fs::file_size(source) + 4096);
        struct stat facts {};
        ASSERT_EQ(::stat((temp / "out.m4a").c_str(), &facts), 0);
        EXPECT_LT(facts.st_blocks * 512, 16 << 20)
            << "the hole was filled; moov first: " << movieFirst;
        EXPECT_EQ(entriesIn(temp.path()), 2u);
    }
}

}  // namespace
}  // namespace tarvik
