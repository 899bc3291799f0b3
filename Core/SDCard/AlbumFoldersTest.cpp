// The one search of an album's card folder, on a card folder laid out by
// each case: its own files found wherever they are, a free number taken only
// where they are nowhere, and nothing merged into another album's folder.
#include <gtest/gtest.h>

#include <array>

#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/SDCard/AlbumFolders.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {
namespace {

namespace fs = std::filesystem;

// A card file of album `identity`; "" for a file that carries none and is
// the album's by the caller's rule, "?" for one that carries none and names
// another album, "~" for one whose tag can't be read, so that its album
// can't be told, "-" for one that tells nothing (nobody's); an identity
// with "!" after it for one that names the album "Old", as an earlier run
// did before a lookup renamed it.
std::string fileOf(const std::string& identity, std::string_view content = "audio") {
    if (identity.empty()) return std::string(content);
    if (identity == "-") return "";
    // A tag far longer than any a reader takes on.
    if (identity == "~")
        return std::string("ID3\x03\0\0\x7F\x7F\x7F\x7F", 10) + std::string(content);
    ID3Writer::Tags tags;
    if (identity == "?") {
        tags.album = "Other";
    } else if (identity.ends_with('!')) {
        tags.albumIdentity = identity.substr(0, identity.size() - 1);
        tags.album = "Old";
    } else {
        tags.albumIdentity = identity;
    }
    return std::string(asText(ID3Writer{}.encodeV2(tags, 0))) + std::string(content);
}

struct Case {
    std::string name;
    std::map<std::string, std::string> files;                // path -> identity (fileOf)
    std::vector<std::pair<std::string, std::string>> links;  // path -> target
    std::vector<std::pair<std::string, std::string>> held;   // folder -> owner
    std::string base;
    std::string expected;  // folder, " #n", " own"; or "link " + path
    bool cardNames = false;
    std::string before = {};               // another owner's base, searched first
    std::vector<std::string> former = {};  // the bases the library's names give
};

std::string told(const AlbumFolders::Result& result) {
    using Kept = AlbumFolders::Kept;
    if (result.link) return "link " + *result.link;
    if (!result.found) return "nothing";
    const AlbumFolders::Found& found = *result.found;
    std::string kept;
    if (found.notMovedTo) {
        kept = std::string(" kept: ") +
               std::array{"another", "unclear", "no folder", "taken",
                          "shared"}[static_cast<std::size_t>(found.kept)] +
               " at " + *found.notMovedTo;
        static_assert(static_cast<int>(Kept::shared) == 4);
    }
    return found.folder + " #" + std::to_string(found.number) + (found.own ? " own" : "") +
           (found.unclear ? " unclear" : "") +
           (found.movedFrom ? " from " + *found.movedFrom : "") + kept;
}

TEST(AlbumFolders, OwnFolderWhereverItIsElseTheFirstFreeNumber) {
    const std::string pad = "\u3000\u3000";
    // clang-format off
    const std::vector<Case> cases = {
        {"own folder under its name", {{"A/Best/1.mp3", "a"}}, {}, {}, "A/Best", "A/Best #1 own"},
        {"own folder under a number the planner did not give",
         {{"A/Best/1.mp3", "b"}, {"A/BEST 2/1.mp3", "a"}}, {}, {{"A/Best", "b"}},
         "A/BEST", "A/BEST 2 #2 own"},
        {"own folder under the lowest of its numbers",
         {{"A/X 3/1.mp3", "a"}, {"A/X 2/1.mp3", "a"}}, {}, {}, "A/X", "A/X 2 #2 own"},
        {"another album's folder", {{"A/Road/1.mp3", "s"}}, {}, {}, "A/Road", "A/Road 2 #2"},
        {"a number another album of the plan holds",
         {{"A/Road/1.mp3", "s"}}, {}, {{"A/Road 2", "q"}}, "A/Road", "A/Road 3 #3"},
        {"the album's file beside another album's",
         {{"A/Road/1.mp3", "a"}, {"A/Road/2.mp3", "s"}}, {}, {}, "A/Road", "A/Road #1 own"},
        {"a file without identity that is the album's",
         {{"A/Road/1.mp3", ""}}, {}, {}, "A/Road", "A/Road #1 own"},
        {"the album's file beside one without identity that is not",
         {{"A/Road/1.mp3", "a"}, {"A/Road/9 Other.mp3", "?"}}, {}, {}, "A/Road", "A/Road #1 own"},
        {"a stray beside the album's files",
         {{"A/Road/1.mp3", "a"}, {"A/Road/9.mp3", "-"}, {"A/Road/8.mp3", ""}}, {}, {}, "A/Road",
         "A/Road #1 own"},
        {"strays only", {{"A/Road/9.mp3", "-"}}, {}, {}, "A/Road", "A/Road #1"},
        {"the album's files and a stranger's, the stranger's listed first or last",
         {{"A/Road/1 mine.mp3", ""}, {"A/Road/2 theirs.mp3", "?"}}, {}, {}, "A/Road",
         "A/Road 2 #2"},
        {"the same, named the other way round",
         {{"A/Road/1 theirs.mp3", "?"}, {"A/Road/2 mine.mp3", ""}}, {}, {}, "A/Road",
         "A/Road 2 #2"},
        {"a file whose album can't be told",
         {{"A/Road/1.mp3", "~"}}, {}, {}, "A/Road", "A/Road 2 #2 unclear"},
        {"the same beside the album's files, listed first or last",
         {{"A/Road/1.mp3", ""}, {"A/Road/2.mp3", "~"}, {"A/Road/3.mp3", ""}}, {}, {}, "A/Road",
         "A/Road 2 #2 unclear"},
        {"the same beside a file carrying the album's identity",
         {{"A/Road/1.mp3", "~"}, {"A/Road/2.mp3", ""}, {"A/Road/3.mp3", "a"}}, {}, {}, "A/Road",
         "A/Road #1 own"},
        {"a stray beside another album's files",
         {{"A/Road/9.mp3", "-"}, {"A/Road/1.mp3", "?"}}, {}, {}, "A/Road", "A/Road 2 #2"},
        {"a folder of pictures only", {{"A/Road/cover.jpg", "s"}}, {}, {}, "A/Road", "A/Road #1"},
        {"a link in the album's place",
         {{"elsewhere/1.mp3", "a"}}, {{"A/Road", "../elsewhere"}}, {}, "A/Road", "A/Road 2 #2"},
        {"a link in the artist's place",
         {{"elsewhere/Road/1.mp3", "a"}}, {{"A", "elsewhere"}}, {}, "A/Road", "link A"},
        {"a link above the artist's place",
         {{"elsewhere/A/Road/1.mp3", "a"}}, {{"M", "elsewhere"}}, {}, "M/A/Road", "link M"},
        {"a folder given to another album in this run",
         {}, {}, {}, "A/Road", "A/Road 2 #2", false, "A/ROAD"},
        {"letter case", {{"a/ROAD/1.mp3", "a"}}, {}, {}, "A/Road", "a/ROAD #1 own"},
        {"a folder the send padded",
         {{"\u6B4C\u624B\u3042" + pad + "/X/1.mp3", "a"}}, {}, {}, "\u6B4C\u624B\u3042/X",
         "\u6B4C\u624B\u3042" + pad + "/X #1 own"},
        {"a folder the export left unpadded",
         {{"\u6B4C\u624B\u3042/X/1.mp3", "a"}}, {}, {}, "\u6B4C\u624B\u3042/X",
         "\u6B4C\u624B\u3042/X #1 own", true},
        {"a new folder in card names", {}, {}, {}, "\u6B4C\u624B\u3042/X",
         "\u6B4C\u624B\u3042" + pad + "/X #1", true},
        // Folders an earlier run named otherwise: their songs name the album "Old".
        {"the library's name for it", {{"A/Old/1.mp3", "a!"}}, {}, {}, "A/New",
         "A/New #1 own from A/Old", false, "", {"A/Old"}},
        {"the library's name for it and its artist",
         {{"B/Old 2/1.mp3", "a!"}, {"B/Old/1.mp3", "s"}}, {}, {}, "A/New",
         "A/New #1 own from B/Old 2", false, "", {"B/Old"}},
        {"the same, its name another album's folder",
         {{"A/Old/1.mp3", "a!"}, {"A/New/1.mp3", "s"}}, {}, {}, "A/New",
         "A/Old #1 own kept: another at A/New", false, "", {"A/Old"}},
        {"the same, its name given to another album in this run",
         {{"A/Old/1.mp3", "a!"}}, {}, {}, "A/New", "A/Old #1 own kept: another at A/New", false,
         "A/NEW", {"A/Old"}},
        {"the same, a file in its name's place",
         {{"A/Old/1.mp3", "a!"}, {"A/New", "-"}}, {}, {}, "A/New",
         "A/Old #1 own kept: no folder at A/New", false, "", {"A/Old"}},
        {"the same, a folder of pictures in its name's place",
         {{"A/Old/1.mp3", "a!"}, {"A/New/cover.jpg", "s"}}, {}, {}, "A/New",
         "A/Old #1 own kept: taken at A/New", false, "", {"A/Old"}},
        {"the same, holding another album's song too",
         {{"A/Old/1.mp3", "a!"}, {"A/Old/2.mp3", "s"}}, {}, {}, "A/New",
         "A/Old #1 own kept: shared at A/New", false, "", {"A/Old"}},
        {"another spelling of its name", {{"A/new/1.mp3", "a!"}}, {}, {}, "A/New",
         "A/New #1 own from A/new"},
        {"beside its name, found by the identity its songs carry",
         {{"A/Other/1.mp3", "a!"}, {"A/Zed/1.mp3", "s"}}, {}, {}, "A/New",
         "A/New #1 own from A/Other"},
        {"beside its name, with songs that name it as now: the user's name for it",
         {{"A/Mine/1.mp3", "a"}}, {}, {}, "A/New", "A/Mine #1 own"},
        {"beside its name, holding another album's song too",
         {{"A/Other/1.mp3", "a!"}, {"A/Other/2.mp3", "s"}}, {}, {}, "A/New", "A/New #1"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir card;
        for (const auto& [path, identity] : c.files) {
            testing::writeFile(card / path, fileOf(identity));
        }
        for (const auto& [path, target] : c.links) {
            fs::create_directories((card / path).parent_path());
            fs::create_symlink(target, card / path);
        }
        CardTree tree(*PosixFS::rootAt(card.path()));
        AlbumFolders folders(tree);
        for (const auto& [folder, owner] : c.held) folders.hold(folder, owner);
        // Files without identity are the album's tracks when they hold
        // "audio"; every album they name is another.
        const auto naming = [](const AlbumFolders::CardFile&) {
            return CardOwnership::Naming::differs;
        };
        const auto isTrack = [&](const std::string& file, const AlbumFolders::CardFile&) {
            return testing::readFile(tree.fullPath(file)) == "audio";
        };
        if (!c.before.empty()) {
            folders.find({.owner = "b",
                          .base = c.before,
                          .identities = {"b"},
                          .naming = naming,
                          .isTrack = isTrack,
                          .rules = {.nameMax = 64}});
        }
        folders.hold(c.base, "a");
        const AlbumFolders::Album album{.owner = "a",
                                        .base = c.base,
                                        .formerBases = c.former,
                                        .cardNames = c.cardNames,
                                        .identities = {"a"},
                                        .naming = naming,
                                        .isTrack = isTrack,
                                        .rules = {.nameMax = 64},
                                        .namedNow = [](const AlbumFolders::CardFile& file) {
                                            return file.tags.album == "Old"
                                                       ? CardOwnership::Naming::differs
                                                       : CardOwnership::Naming::unclear;
                                        }};
        const AlbumFolders::Result result = folders.find(album);
        EXPECT_EQ(told(result), c.expected);
        EXPECT_EQ(told(folders.find(album)), c.expected);  // asked again: the same
        // A folder to be moved is seen where it goes, with what was read of it.
        if (result.found && result.found->movedFrom) {
            const std::string moved = result.found->folder + "/1.mp3";
            EXPECT_TRUE(tree.locate(moved)->exists());
            EXPECT_EQ(tree.identity(moved), "a");
            const std::string from = *result.found->movedFrom;
            EXPECT_EQ(tree.locate(from + "/1.mp3")->exists(),
                      CardTree::pathKey(from) == CardTree::pathKey(result.found->folder));
        }
    }
}

// Names matched as a card matches them: letter case and normal form ignored,
// a folder's padding too; a link or a file on the way blocks the path.
TEST(CardTree, FindsEachLevelAsACardWould) {
    testing::TempDir card;
    testing::writeFile(card / "Caf\u0065\u0301/One.mp3", "1");
    testing::writeFile(card / "\u6B4C\u624B\u3000\u3000/x", "2");
    testing::writeFile(card / "file", "3");
    fs::create_directory_symlink(card / "Caf\u0065\u0301", card / "Link");
    CardTree tree(*PosixFS::rootAt(card.path()));
    const std::vector<std::tuple<std::string, std::string, std::size_t, std::string>> cases = {
        {"CAF\u00C9/ONE.MP3", "Caf\u0065\u0301/One.mp3", 2, ""},
        {"caf\u00E9/Two.mp3", "Caf\u0065\u0301/Two.mp3", 1, ""},
        {"\u6B4C\u624B/x", "\u6B4C\u624B\u3000\u3000/x", 2, ""},
        {"\u6B4C\u624B/X\u3000", "\u6B4C\u624B\u3000\u3000/X\u3000", 1, ""},
        {"Link/One.mp3", "Link/One.mp3", 1, "Link"},
        {"file/One.mp3", "file/One.mp3", 1, "file"},
    };
    for (const auto& [wanted, real, found, blocked] : cases) {
        const std::optional<CardTree::Located> located = tree.locate(wanted);
        ASSERT_TRUE(located) << wanted;
        EXPECT_EQ(located->relative, real) << wanted;
        EXPECT_EQ(located->found, found) << wanted;
        EXPECT_EQ(located->blockedAt.value_or(""), blocked) << wanted;
        EXPECT_EQ(located->blockedByLink, blocked == "Link") << wanted;
        EXPECT_EQ(CardTree::pathKey(wanted), located->key) << wanted;
    }
    EXPECT_FALSE(tree.locate("../x"));
    tree.note("caf\u00E9/Two.mp3");
    EXPECT_TRUE(tree.locate("CAFE\u0301/two.MP3")->exists());
}

// A stop requested before a card file is read is a stop: nothing is read
// and nothing is kept as its identity or its facts.
TEST(CardTree, AStopIsHeededWhereAFileIsRead) {
    testing::TempDir card;
    testing::writeFile(card / "A/1.mp3", fileOf("a"));
    std::stop_source stop;
    CardTree tree(*PosixFS::rootAt(card.path()), stop.get_token());
    stop.request_stop();
    EXPECT_THROW(tree.identity("A/1.mp3"), Cancelled);
    EXPECT_THROW(tree.facts("A/1.mp3"), Cancelled);
    EXPECT_THROW(tree.readIdentities({"A/1.mp3"}), Cancelled);
}

}  // namespace
}  // namespace tarvik::SDCardTools
