// Copies on the card and songs in the library as users really have them:
// a copy cut short inside its tag or its movie header, a song the library
// holds cut short by an interrupted download, an ID3v1-only card a common
// tagger saved again. Each card is exported onto three times and sent to;
// the export, the send and the window's "on the card" judge each copy by
// one check, and each song is on the card once and whole. Real ffmpeg, and
// mutagen and ffprobe as independent readers.
#include "Core/Convert/AudioFacts.hpp"
#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/SDCard/SDCardTools.hpp"

namespace tarvik {
namespace {

using namespace testing;

struct Sent {
    bool onCardBefore = false;
    std::int64_t copied = 0;
};

// The library exported into a folder of its own and sent from there.
Sent sendTo(const fs::path& card, const fs::path& music, const DeviceProfile& profile,
            const fs::path& exportFolder) {
    exportSelection(exportFolder, music, profile, {});
    const std::vector<SDCardTools::Album> albums =
        SDCardTools::exportedAlbums({exportFolder / "MUSIC"});
    EXPECT_EQ(albums.size(), 1U);
    if (albums.empty()) return {};
    Sent sent{SDCardTools::isOnCard(albums[0], card / "MUSIC")};
    sent.copied = SDCardTools::send(albums, card / "MUSIC").copied;
    return sent;
}

// The one file of the card, whole and as long as `seconds`.
void expectOneWholeCopy(const fs::path& card, const std::string& path, double seconds) {
    EXPECT_EQ(pathsBelow(card), Texts{path});
    const std::optional<AudioFacts::Facts> facts = AudioFacts::read(card / path);
    EXPECT_TRUE(AudioFacts::isWhole(facts));
    EXPECT_NEAR(facts ? facts->seconds.value_or(0) : 0, seconds, 0.2);
}

std::size_t movieAt(const std::string& bytes) {
    return bytes.find("moov") - 4;
}

// The ID3v2 tag's end, from its header's syncsafe size.
std::size_t tagEnd(const std::string& bytes) {
    std::size_t size = 0;
    for (int at = 6; at < 10; ++at)
        size = size << 7 | (static_cast<unsigned char>(bytes[at]) & 0x7F);
    return 10 + size;
}

// A twenty-second song whose copy ended inside its tag (in the cover) or
// its movie header, on a card with identities or an older one: the export
// and the send each write it again in its place, once; the window shows it
// missing before; later exports write nothing.
TEST(CardCopies, ACopyCutInsideItsTagOrMovieIsWrittenAgainInItsPlace) {
    const DeviceProfile aac = aacProfile();
    struct Case {
        std::string name;
        DeviceProfile profile;
        bool older;
        std::string file;
        std::function<std::size_t(const std::string&)> cutAt;
    };
    const auto insideTheCover = [](const std::string& bytes) {
        return (bytes.find("APIC") + tagEnd(bytes)) / 2;
    };
    const auto insideTheMovie = [](const std::string& bytes) { return movieAt(bytes) + 64; };
    const std::vector<Case> cases = {
        {"an MP3 cut in its cover", deliveredProfile("mp3-with-art"), false, "01 Long.mp3",
         insideTheCover},
        {"the same on an older card", deliveredProfile("mp3-with-art"), true, "01 Long.mp3",
         insideTheCover},
        {"an M4A cut in its movie header", aac, false, "01 Long.m4a", insideTheMovie},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeTones(music, 20.0, {"Band/Best|Long|Band|1"});
        makePicture(music / "Band/Best/cover.jpg", 600, 600);
        exportSelection(card, music, c.profile, {});
        const fs::path folder = card / "MUSIC/Band/Best";
        if (c.older) forgetAlbum(folder / c.file);
        const std::string whole = readFile(folder / c.file);
        writeFile(folder / c.file, whole.substr(0, c.cutAt(whole)));
        ASSERT_FALSE(AudioFacts::isWhole(AudioFacts::read(folder / c.file)));
        fs::copy(card, temp / "sent", fs::copy_options::recursive);

        for (int run = 1; run <= 3; ++run) {
            EXPECT_EQ(describe(exportSelection(card, music, c.profile, {}).back()),
                      run == 1 ? "done 1 skipped 0 failed 0" : "done 0 skipped 1 failed 0")
                << run;
            expectOneWholeCopy(card, "MUSIC/Band/Best/" + c.file, 20.0);
        }
        const Sent sent = sendTo(temp / "sent", music, c.profile, temp / "export");
        EXPECT_FALSE(sent.onCardBefore);
        EXPECT_EQ(sent.copied, 1);
        expectOneWholeCopy(temp / "sent", "MUSIC/Band/Best/" + c.file, 20.0);
    }
}

// An interrupted download: the library's FLAC says thirty seconds and holds
// ten. Written once, its copy plays ten; later exports onto an older card or
// under an ID3v1-only unit find it by the audio the conversion made, and
// write nothing; the send agrees.
TEST(CardCopies, ASongTheLibraryHoldsCutShortIsWrittenOnce) {
    const std::vector<std::pair<std::string, DeviceProfile>> cases = {
        {"an older card", DeviceProfile("test", "Test")},
        {"an ID3v1-only unit", id3v1Profile(DeviceProfile::Tags::Encoding::latin1)},
    };
    for (const auto& [name, profile] : cases) {
        SCOPED_TRACE(name);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeTones(music, 30.0, {"Band/Cut|Download|Band|1"});
        const fs::path source = music / "Band/Cut/Download.flac";
        const std::string bytes = readFile(source);
        writeFile(source, bytes.substr(0, bytes.size() / 3));
        for (int run = 1; run <= 3; ++run) {
            EXPECT_EQ(describe(exportSelection(card, music, profile, {}).back()),
                      run == 1 ? "done 1 skipped 0 failed 0" : "done 0 skipped 1 failed 0")
                << run;
            // Taken for a card written before files named their album.
            if (run == 1 && readFile(card / pathsBelow(card).front()).starts_with("ID3")) {
                for (const std::string& path : pathsBelow(card)) forgetAlbum(card / path);
            }
        }
        EXPECT_EQ(pathsBelow(card), Texts{"MUSIC/Band/Cut/01 Download.mp3"});
        const std::optional<AudioFacts::Facts> copy =
            AudioFacts::read(card / "MUSIC/Band/Cut/01 Download.mp3");
        EXPECT_LT(copy ? copy->seconds.value_or(30) : 30, 15.0);
        const Sent sent = sendTo(card, music, profile, temp / "export");
        EXPECT_TRUE(sent.onCardBefore);
        EXPECT_EQ(sent.copied, 0);
    }
}

// Saves each MP3 below `folder` again through mutagen, as a common tagger
// does: it reads the ID3v1 trailer into an ID3v2.4 tag of its own (30-byte
// fields, no album artist) and keeps the trailer.
void retag(const fs::path& folder) {
    for (const std::string& path : pathsBelow(folder)) {
        const ShellResult saved = runCommand(
            {systemPython, "-c",
             "import sys\nfrom mutagen.mp3 import MP3\nfrom mutagen.id3 import TCON\n"
             "f = MP3(sys.argv[1])\nf.tags.add(TCON(encoding=3, text=['Rock']))\nf.save()\n",
             (folder / path).string()});
        ASSERT_EQ(saved.exitCode, 0) << saved.output;
    }
}

// An ID3v1-only card whose files a common tagger saved again: the export,
// the send and the window judge them by the same fields, and agree that
// every song is there.
TEST(CardCopies, AnID3v1CardATaggerSavedAgainHoldsItsSongs) {
    for (const auto& [encoding, title] : titlesPastTheTrailer()) {
        SCOPED_TRACE(title);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeAlbum(music, "Band", "Road", 500, title);
        const DeviceProfile v1 = id3v1Profile(encoding);
        exportSelection(card, music, v1, {});
        retag(card);
        const std::map<std::string, std::string> before = filesBelow(card);
        for (int run = 1; run <= 3; ++run) {
            EXPECT_EQ(describe(exportSelection(card, music, v1, {}).back()),
                      "done 0 skipped 2 failed 0")
                << run;
        }
        const Sent sent = sendTo(card, music, v1, temp / "export");
        EXPECT_TRUE(sent.onCardBefore);
        EXPECT_EQ(sent.copied, 0);
        EXPECT_TRUE(filesBelow(card) == before);
    }
}

// An exported M4A carries its album's and its song's identities where no
// common reader takes them for a field: saved again by another tagger
// (which puts its items in an order of its own), ffprobe (ffmpeg's own
// reader, which players are built on) shows the album's name as its album,
// and mutagen finds both identities under their own names.
TEST(CardCopies, AnM4AShowsItsAlbumAsItsAlbum) {
    TempDir temp;
    makeTones(temp / "music", 1.0, {"Band/Best|Song|Band|1"});
    exportSelection(temp / "card", temp / "music", aacProfile(), {});
    const fs::path file = temp / "card/MUSIC/Band/Best/01 Song.m4a";
    ASSERT_EQ(runCommand({systemPython, "-c",
                          "import sys\nfrom mutagen.mp4 import MP4\n"
                          "f = MP4(sys.argv[1])\nf.tags['\\xa9gen'] = ['Rock']\nf.save()\n",
                          file.string()})
                  .exitCode,
              0);
    EXPECT_EQ(ffprobe(file, "format_tags=album").at("format").at("tags").value("album", ""),
              "Best");
    const nlohmann::json read = mutagen(file);
    const TrackMeta library("Song", "Band", "", "Best", "1", "", "", "");
    EXPECT_EQ(read.value("albumIdentity", ""), AlbumIdentity::of(library));
    EXPECT_EQ(read.value("trackIdentity", ""), AlbumIdentity::trackOf(library));
}

}  // namespace
}  // namespace tarvik
