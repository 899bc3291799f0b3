// The export, the send and the send window's "on the card" agree about a
// card folder: what a re-export skips, a send of the same album exported to
// a folder copies nothing of, and the window shows it as on the card. Real
// exports by ffmpeg onto a card, and into the folder the send reads.
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/SDCard/SDCardTools.hpp"

namespace tarvik {
namespace {

using namespace testing;

TEST(SendAfterExport, ASendOfWhatTheExportSkipsCopiesNothing) {
    struct Case {
        std::string name;
        bool older;  // the card written before files named their album
        bool empty, untagged;
    };
    const std::vector<Case> cases = {
        {"the album's own copies and an empty file", false, true, false},
        {"the album's own copies and an untagged file", false, false, true},
        {"an older card's copies", true, false, false},
        {"an older card's copies, an empty and an untagged file", true, true, true},
    };
    const DeviceProfile plain("test", "Test");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        const fs::path folder = card / "MUSIC/Band/Best";
        makeAlbum(music, "Band", "Best", 500);
        exportSelection(card, music, plain, {});
        if (c.older) {
            for (const std::string& path : pathsBelow(folder)) forgetAlbum(folder / path);
        }
        // What a copy that failed leaves.
        if (c.empty) writeFile(folder / "03 Song 3.mp3", "");
        if (c.untagged) {
            makeTone(folder / "04 Song 4.mp3",
                     {.extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0"}});
        }
        EXPECT_EQ(describe(exportSelection(card, music, plain, {}).back()),
                  "done 0 skipped 2 failed 0");

        exportSelection(temp / "export", music, plain, {});
        const std::vector<SDCardTools::Album> albums =
            SDCardTools::exportedAlbums({temp / "export/MUSIC"});
        ASSERT_EQ(albums.size(), 1U);
        const std::map<std::string, std::string> before = filesBelow(card);
        EXPECT_TRUE(SDCardTools::isOnCard(albums[0], card / "MUSIC"));
        const SDCardTools::SendResult sent = SDCardTools::send(albums, card / "MUSIC");
        EXPECT_EQ(sent.copied, 0);
        EXPECT_EQ(sent.skipped, 2);
        EXPECT_EQ(sent.places, (std::map<std::string, std::string>{{"Band/Best", "Band/Best"}}));
        EXPECT_EQ(filesBelow(card), before);
    }
}

}  // namespace
}  // namespace tarvik
