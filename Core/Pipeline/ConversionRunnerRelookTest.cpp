// A song is once on the card whatever an earlier export looked up: a card
// written with the title lookup off and exported again with it on holds
// each song once, named and numbered as the later run says, with its own
// audio. The catalogue service is stood in on 127.0.0.1; real ffmpeg, and
// ffprobe reads back what the card holds.
#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Pipeline/CardAlbums.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/SDCard/SDCardTools.hpp"

namespace tarvik {
namespace {

using namespace testing;

// "file name|title|track|seconds" of every file in `folder`, in name order;
// each names `album` as its album.
Texts songsIn(const fs::path& folder, const std::string& album) {
    Texts told;
    for (const std::string& name : pathsBelow(folder)) {
        const ShellResult probe = runCommand({"ffprobe", "-v", "error", "-show_entries",
                                              "format=duration:format_tags=title,track,album",
                                              "-of", "json", (folder / name).string()});
        EXPECT_EQ(probe.exitCode, 0) << name;
        const nlohmann::json format = nlohmann::json::parse(probe.output).at("format");
        const nlohmann::json tags = format.value("tags", nlohmann::json::object());
        EXPECT_EQ(tags.value("album", ""), album) << name;
        told.push_back(
            name + "|" + tags.value("title", "") + "|" + tags.value("track", "") + "|" +
            std::to_string(std::lround(std::stod(format.at("duration").get<std::string>()))));
    }
    return told;
}

struct Song {
    std::string title;
    int number = 0;
    int seconds = 0;  // each song its own length, so that its audio shows
};

// The album in the library, and the store's edition of it by the same
// artist, under the store's name for the album (empty: the library's).
struct Edition {
    std::string album;
    std::vector<Song> library, store;
    std::string storeAlbum = {};

    const std::string& storeName() const { return storeAlbum.empty() ? album : storeAlbum; }
};

void makeLibrary(const fs::path& music, const Edition& edition) {
    for (const Song& song : edition.library) {
        makeTone(music / "A Band" / edition.album / (std::to_string(song.number) + ".flac"),
                 {.seconds = static_cast<double>(song.seconds),
                  .metadata = {{"title", song.title},
                               {"artist", "A Band"},
                               {"album", edition.album},
                               {"track", std::to_string(song.number)}}});
    }
}

void answerWith(StandInCatalogService& service, const Edition& edition) {
    const CatalogRecord album{.wrapperType = "collection",
                              .artistName = "A Band",
                              .collectionName = edition.storeName(),
                              .collectionId = 58};
    CatalogRecords tracks{album};
    for (const Song& song : edition.store) {
        tracks.push_back({"track", "A Band", edition.storeName(), "A Band", 58, song.title,
                          song.number, 1, "2001-01-01", "Rock"});
    }
    service.answer(ITunesURL::albumSearch("A Band", edition.album), {album});
    service.answer(ITunesURL::lookup(58), tracks);
}

using Layout = DeviceProfile::Files::Layout;

std::vector<ConversionEvent> exportAlbum(const fs::path& card, const fs::path& music,
                                         const StandInCatalogService* service,
                                         Layout layout = Layout::artistAlbum) {
    return exportTo(card, music, [&](ConversionRunner& runner) {
        runner.profile = deliveredProfile("generic-mp3");
        runner.profile.files.layout = layout;
        if (service != nullptr) runner.catalog = service->client();
    });
}

// Exported with the lookup off, then on (twice): after the second export
// the album's songs are each once on the card, in the store's names and
// numbers and under its name for the album, each with its own audio; the
// rewritten songs are told, and the third export writes nothing. An album
// the store names otherwise takes the store's name for its folder. Albums
// that share folders under the other layouts find their songs there and in
// the folder the library's names gave them. On a card written before files
// named their album and song, the songs are found by the tags the library
// gave them. A send of the album exported with the lookup onto the first
// card in album folders leaves each song once, under the store's names, too.
TEST(RelookedCard, EachSongOnceNamedAsTheLaterLookupSays) {
    if (const std::string missing = missingProgram({"ffmpeg", "ffprobe"}); !missing.empty())
        GTEST_SKIP() << missing;
    struct Case {
        std::string name;
        Edition edition;
        std::string folder;  // where the album is after the lookup
        Texts songs;         // the folder after the lookup
        Texts told;          // notices of the second export
        std::string second;  // its closing counts
        bool older = false;  // the first card's files made to look written before identities
        Layout layout = Layout::artistAlbum;
    };
    const std::string folder = "MUSIC/A Band/";
    const Edition blueDays{
        "Blue Days",
        {{"Morning", 1, 1}, {"Rain", 2, 2}, {"\uFF22\uFF2C\uFF35\uFF25 \uFF33\uFF2B\uFF39", 3, 3}},
        {{"Morning", 1, 1}, {"Rain", 2, 2}, {"Blue Sky", 3, 3}}};
    const std::string seaWall = "\uFF33\uFF25\uFF21 \uFF37\uFF21\uFF2C\uFF2C";
    const std::string rocks = "\uFF32\uFF2F\uFF23\uFF2B\uFF33";
    const Edition seaWallEdition{
        seaWall, {{"Tide", 1, 1}, {rocks, 2, 2}}, {{"Tide", 1, 1}, {"Rocks", 2, 2}}, "Sea Wall"};
    const auto rewritten = [](const std::string& path, const std::string& to = "",
                              bool album = false) {
        return "notice " + CardAlbums::rewriteNotice(path, to, album);
    };
    std::vector<Case> cases = {
        {"a title the store writes in half-width letters",
         blueDays,
         folder + "Blue Days",
         {"01 Morning.mp3|Morning|1|1", "02 Rain.mp3|Rain|2|2", "03 Blue Sky.mp3|Blue Sky|3|3"},
         {rewritten(folder + "Blue Days/03 \uFF22\uFF2C\uFF35\uFF25 \uFF33\uFF2B\uFF39.mp3",
                    folder + "Blue Days/03 Blue Sky.mp3")},
         "done 1 skipped 2 failed 0"},
        {"an album the store writes in half-width letters",
         seaWallEdition,
         folder + "Sea Wall",
         {"01 Tide.mp3|Tide|1|1", "02 Rocks.mp3|Rocks|2|2"},
         {rewritten(folder + "Sea Wall/01 Tide.mp3", "", true),
          rewritten(folder + "Sea Wall/02 " + rocks + ".mp3", folder + "Sea Wall/02 Rocks.mp3"),
          "notice 「" + folder + seaWall +
              "」はアルバム名が変わったため、「Sea Wall」に名前を変えます"},
         "done 2 skipped 0 failed 0"},
        {"numbers the store's edition gives otherwise",
         {"Harbor",
          {{"Intro", 1, 1},
           {"Harbor", 2, 2},
           {"Anchor", 3, 3},
           {"Closing", 4, 4},
           {"Hidden", 5, 5}},
          {{"Intro", 1, 1},
           {"Harbor", 2, 2},
           {"Hidden", 3, 5},
           {"Anchor", 4, 3},
           {"Closing", 5, 4}}},
         folder + "Harbor",
         {"01 Intro.mp3|Intro|1|1", "02 Harbor.mp3|Harbor|2|2", "03 Hidden.mp3|Hidden|3|5",
          "04 Anchor.mp3|Anchor|4|3", "05 Closing.mp3|Closing|5|4"},
         {rewritten(folder + "Harbor/03 Anchor.mp3", folder + "Harbor/04 Anchor.mp3"),
          rewritten(folder + "Harbor/04 Closing.mp3", folder + "Harbor/05 Closing.mp3"),
          rewritten(folder + "Harbor/05 Hidden.mp3", folder + "Harbor/03 Hidden.mp3")},
         "done 3 skipped 2 failed 0"},
        {"a title the store writes otherwise, all albums in one folder",
         blueDays,
         "MUSIC",
         {"A Band - 01 Morning.mp3|Morning|1|1", "A Band - 02 Rain.mp3|Rain|2|2",
          "A Band - 03 Blue Sky.mp3|Blue Sky|3|3"},
         {rewritten("MUSIC/A Band - 03 \uFF22\uFF2C\uFF35\uFF25 \uFF33\uFF2B\uFF39.mp3",
                    "MUSIC/A Band - 03 Blue Sky.mp3")},
         "done 1 skipped 2 failed 0",
         false,
         Layout::flat},
        {"an album the store names otherwise, in folders by album",
         seaWallEdition,
         "MUSIC/Sea Wall",
         {"01 Tide.mp3|Tide|1|1", "02 Rocks.mp3|Rocks|2|2"},
         {rewritten("MUSIC/" + seaWall + "/01 Tide.mp3", "MUSIC/Sea Wall/01 Tide.mp3", true),
          rewritten("MUSIC/" + seaWall + "/02 " + rocks + ".mp3", "MUSIC/Sea Wall/02 Rocks.mp3")},
         "done 2 skipped 0 failed 0",
         false,
         Layout::album},
    };
    for (const std::size_t first : {0, 1, 3}) {
        Case older = cases[first];
        older.name += ", on an older card";
        older.older = true;
        cases.push_back(older);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path music = temp / "music", card = temp / "card";
        makeLibrary(music, c.edition);
        StandInCatalogService service;
        answerWith(service, c.edition);

        EXPECT_EQ(describe(exportAlbum(card, music, nullptr, c.layout).back()),
                  "done " + std::to_string(c.edition.library.size()) + " skipped 0 failed 0");
        if (c.older) {
            for (const std::string& path : pathsBelow(card)) forgetAlbum(card / path);
        }
        fs::copy(card, temp / "sent", fs::copy_options::recursive);
        const auto second = exportAlbum(card, music, &service, c.layout);
        Texts told = trace(second, "notice");
        std::ranges::sort(told);
        EXPECT_EQ(told, c.told);
        EXPECT_EQ(describe(second.back()), c.second);
        EXPECT_EQ(songsIn(card / c.folder, c.edition.storeName()), c.songs);

        const auto third = exportAlbum(card, music, &service, c.layout);
        EXPECT_EQ(describe(third.back()),
                  "done 0 skipped " + std::to_string(c.edition.library.size()) + " failed 0");
        EXPECT_EQ(songsIn(card / c.folder, c.edition.storeName()), c.songs);
        EXPECT_EQ(pathsBelow(card).size(), c.songs.size());

        // The same album exported with the lookup into a folder and sent:
        // the send replaces each copy the first export wrote otherwise. It
        // knows an album by its exported files' names and identity, which
        // an older card's copies of an album the store renamed share neither.
        if (c.layout != Layout::artistAlbum || (c.older && !c.edition.storeAlbum.empty())) {
            continue;
        }
        exportAlbum(temp / "export", music, &service);
        const std::vector<SDCardTools::Album> albums =
            SDCardTools::exportedAlbums({temp / "export/MUSIC"});
        EXPECT_FALSE(SDCardTools::isOnCard(albums.at(0), temp / "sent/MUSIC"));
        SDCardTools::send(albums, temp / "sent/MUSIC");
        EXPECT_TRUE(SDCardTools::isOnCard(albums.at(0), temp / "sent/MUSIC"));
        EXPECT_EQ(songsIn(temp / "sent" / c.folder, c.edition.storeName()), c.songs);
        EXPECT_EQ(pathsBelow(temp / "sent").size(), c.songs.size());
    }
}

}  // namespace
}  // namespace tarvik
