#include <gtest/gtest.h>

#include "App/Windows/SendContent.hpp"

namespace tarvik::SendContent {
namespace {

Album album(const std::string& relativePath, int files = 1, std::int64_t bytes = 0) {
    Album result;
    result.relativePath = relativePath;
    result.artist = relativePath.substr(0, relativePath.find('/'));
    result.name = relativePath.substr(relativePath.rfind('/') + 1);
    for (int n = 0; n < files; ++n) result.files.push_back(std::to_string(n) + ".mp3");
    result.bytes = bytes;
    return result;
}

std::vector<std::string> ids(const std::vector<Album>& albums) {
    std::vector<std::string> result;
    for (const Album& a : albums) result.push_back(a.id());
    return result;
}

Volume card(const std::string& path, std::int64_t free) {
    return Volume{.url = path, .name = "CARD", .free = free};
}

TEST(SendContent, BusyFoldersOnlyWhenTheSourceIsTheDestination) {
    const ModelFacts model{.destPath = "/e/Caf\u00E9", .writingFolders = {"A/B"}};
    EXPECT_EQ(busyFolders("/e/Cafe\u0301", model), (std::set<std::string>{"A/B"}));
    EXPECT_TRUE(busyFolders("/e/other", model).empty());
    EXPECT_TRUE(busyFolders("/e/Caf\u00E9", ModelFacts{.destPath = "/e/Caf\u00E9"}).empty());
}

TEST(SendContent, MusicLibraryTestKeepsToFolderBoundaries) {
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"/m/Music", "/m/Music", true},   {"/m/Music/Artist", "/m/Music", true},
        {"/m/Music2", "/m/Music", false}, {"/m/Cafe\u0301/A", "/m/Caf\u00E9", true},
        {"", "/m/Music", false},          {"/m/Music", "", false},
    };
    for (const auto& [source, library, expected] : cases) {
        EXPECT_EQ(sourceIsMusicLibrary(source, library), expected) << source;
    }
}

TEST(SendContent, SuggestedSource) {
    const std::string last = "/home/u/Export";
    EXPECT_EQ(suggestedSource({.destPath = "/media/CARD", .lastExportPath = last}, true), last);
    // The last export folder was found gone, or its file system did not answer.
    const ModelFacts onCard{
        .destPath = "/media/CARD", .lastExportPath = last, .volumes = {card("/media/CARD", 0)}};
    EXPECT_EQ(suggestedSource(onCard, false), "");
    // Paths name the same folder in either normalisation.
    const ModelFacts onDecomposed{.destPath = "/media/Cafe\u0301",
                                  .volumes = {card("/media/Caf\u00E9", 0)}};
    EXPECT_EQ(suggestedSource(onDecomposed, true), "");
    EXPECT_EQ(selectedCard(onDecomposed.volumes, "/media/Cafe\u0301")->name, "CARD");
    EXPECT_EQ(selectedCard(onDecomposed.volumes, ""), std::nullopt);
    EXPECT_EQ(selectedCard(onDecomposed.volumes, "/media/Cafe"), std::nullopt);
    EXPECT_EQ(suggestedSource({.destPath = "/home/u/Out"}, true), "/home/u/Out");
    EXPECT_TRUE(offersSuggestion("/home/u/Out", "/home/u/Music"));
    EXPECT_FALSE(offersSuggestion("/home/u/Music2", "/home/u/Music"));
    EXPECT_FALSE(offersSuggestion("", "/home/u/Music"));
}

TEST(SendContent, FilterMatchesTheWholeRelativePathTrimmedAndDeepAlbumsAreFound) {
    const std::vector<Album> albums = {album("Artist/Album"), album("Other/Live")};
    EXPECT_EQ(ids(filteredAlbums(albums, "tist/Alb")), (std::vector<std::string>{"Artist/Album"}));
    EXPECT_EQ(ids(filteredAlbums(albums, "  live\t")), (std::vector<std::string>{"Other/Live"}));
    EXPECT_EQ(filteredAlbums(albums, "   ").size(), 2U);
    EXPECT_TRUE(filteredAlbums(albums, "0.mp3").empty());  // never a file name
    // An album below a subfolder is deep; doubled or trailing slashes are not.
    EXPECT_FALSE(hasDeepAlbum({album("A/B"), album("A//B/")}));
    EXPECT_TRUE(hasDeepAlbum({album("A/B"), album("A/A/B")}));
}

TEST(SendContent, TicksAndChoice) {
    const std::vector<Album> albums = {album("B/1", 3, 7), album("A/2", 1, 5), album("A/1", 2, 10)};
    const std::set<std::string> busy = {"A/2"};
    // Ticks hidden by a filter still count; busy ones never do.
    EXPECT_EQ(ids(chosenAlbums(albums, {"A/2", "B/1"}, busy)), (std::vector<std::string>{"B/1"}));
    EXPECT_EQ(pickAllNotOnCard(filteredAlbums(albums, "A/"), {"A/1"}, busy),
              std::set<std::string>{});
    EXPECT_EQ(pickAllNotOnCard(albums, {"A/1"}, busy), (std::set<std::string>{"B/1"}));

    // Artists in name order, their albums in list order.
    const std::vector<ArtistGroup> groups = artistGroups(albums);
    ASSERT_EQ(groups.size(), 2U);
    EXPECT_EQ(ids(groups[0].albums), (std::vector<std::string>{"A/2", "A/1"}));
    std::set<std::string> picked = {"A/2"};
    EXPECT_FALSE(artistTicked(groups[0], picked, busy));
    setArtistTicked(groups[0], true, picked, busy);
    EXPECT_EQ(picked, (std::set<std::string>{"A/1", "A/2"}));
    EXPECT_TRUE(artistTicked(groups[0], picked, busy));
    setArtistTicked(groups[0], false, picked, busy);
    EXPECT_EQ(picked, (std::set<std::string>{"A/2"}));  // the busy tick stays
    const ArtistGroup allBusy{"A", {album("A/2")}};
    setArtistTicked(allBusy, true, picked, busy);
    EXPECT_FALSE(artistTicked(allBusy, picked, busy));
}

TEST(SendContent, SelectionBarWarnsOnlyWhenStrictlyLarger) {
    const std::vector<Album> chosen = {album("A/1", 2, 600), album("A/2", 1, 400)};
    EXPECT_EQ(selectionBar(chosen, card("/c", 1000)).text, "選択: 2 アルバム・3 曲・1 KB");
    EXPECT_FALSE(selectionBar(chosen, card("/c", 1000)).exceedsFreeSpace);
    EXPECT_TRUE(selectionBar(chosen, card("/c", 999)).exceedsFreeSpace);
    EXPECT_FALSE(selectionBar(chosen, std::nullopt).exceedsFreeSpace);
}

TEST(SendContent, DropChecks) {
    const std::optional<Volume> sd = card("/media/CARD", 0);
    EXPECT_EQ(checkDrop({"/x"}, std::nullopt, "").refusal, std::string(noCardForDrop));
    const DropCheck mixed = checkDrop({"/media/CARD/A", "/e/A", "/media/CARD2"}, sd, "/m");
    EXPECT_EQ(mixed.candidates, (std::vector<std::string>{"/e/A", "/media/CARD2"}));
    EXPECT_FALSE(mixed.refusal);
    EXPECT_TRUE(checkDrop({"/media/CARD"}, sd, "/m").candidates.empty());
    EXPECT_TRUE(checkDrop({"/e/A", "/m/Artist"}, sd, "/m").refusal);
    EXPECT_FALSE(checkDrop({"/m2/Artist"}, sd, "/m").refusal);
}

TEST(SendContent, SendingAndFinishedTexts) {
    EXPECT_EQ(sendingFraction({0, 0, ""}), 0);
    EXPECT_EQ(sendingFraction({1, 4, ""}), 0.25);

    // Lines with nothing to say stay empty; a stopped send says so.
    Finished finished;
    finished.result.copied = 1;
    FinishedTexts texts = finishedTexts(finished);
    EXPECT_EQ(texts.headline + texts.clean + texts.unfixed, "SD カードに入りました");
    finished.result.skipped = 2;
    finished.result.clean = {0, 4, {"1", "2", "3", "4", "5", "6", "7"}};
    finished.stopped = true;
    texts = finishedTexts(finished);
    EXPECT_EQ(texts.headline, "中止しました");
    EXPECT_EQ(texts.counts, "1 曲を写しました、2 曲はもう入っていました");
    EXPECT_EQ(texts.clean,
              "あわせて、隠しファイル 0 個を消し、名前 4 個をカーナビが読める形に直しました。");
    EXPECT_EQ(texts.unfixed, "名前を直せなかったもの: 1、2、3、4、5");
    EXPECT_FALSE(texts.success);

    // Files the card could not take are counted and named, and spoil the success.
    const struct {
        std::vector<std::string> failed;
        std::string headline;
        std::string counts;
        std::string notSent;
    } cases[] = {
        {{}, "SD カードに入りました", "3 曲を写しました", ""},
        {{"A/B/x.mp3", "A/B/X.mp3"},
         "送れなかった曲があります",
         "3 曲を写しました、2 曲は送れませんでした",
         "SD カードで名前が重なるため送れなかったもの: A/B/x.mp3、A/B/X.mp3"},
        {{"1", "2", "3", "4", "5", "6", "7"},
         "送れなかった曲があります",
         "3 曲を写しました、7 曲は送れませんでした",
         "SD カードで名前が重なるため送れなかったもの: 1、2、3、4、5 ほか 2 曲"},
    };
    for (const auto& c : cases) {
        Finished result;
        result.result.copied = 3;
        result.result.failed = c.failed;
        texts = finishedTexts(result);
        EXPECT_EQ(texts.headline, c.headline);
        EXPECT_EQ(texts.counts, c.counts);
        EXPECT_EQ(texts.notSent, c.notSent);
        EXPECT_EQ(texts.success, c.failed.empty());
    }

    // Albums that went to another folder than their card name say where.
    Finished placed;
    placed.result.places = {{"X/Best", "X/Best"},
                            {"X/BEST", "X/BEST 2"},
                            {"\u6B4C\u624B/\u6B4C", "\u6B4C\u624B/\u6B4C"}};
    EXPECT_EQ(finishedTexts(placed).places,
              "「BEST」には別のアルバムがあるため「BEST 2」に送りました");
}

}  // namespace
}  // namespace tarvik::SendContent
