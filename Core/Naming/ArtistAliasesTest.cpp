#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "Core/Naming/ArtistAliases.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using Groups = std::vector<std::vector<std::string>>;

ArtistAliases list(std::vector<std::pair<std::string, std::string>> pairs) {
    ArtistAliases aliases;
    for (auto& [from, to] : pairs) aliases.entries.emplace_back(from, to);
    return aliases;
}

TEST(ArtistAliases, ResolvesToTheFirstUsableMatch) {
    struct Case {
        std::string name;
        ArtistAliases aliases;
        std::string query;
        std::optional<std::string> expected;
    };
    const ArtistAliases band = list({{"The Band", "THE BAND"}});
    const std::vector<Case> cases = {
        {"same text", band, "The Band", "THE BAND"},
        {"other case", band, "the band", "THE BAND"},
        {"no space", band, "TheBand", "THE BAND"},
        {"hyphen is no space", band, "The-Band", std::nullopt},
        {"empty name", band, "", std::nullopt},
        {"empty target skipped", list({{"A", ""}, {"a", "Alpha"}}), "A", "Alpha"},
        {"earlier entry wins", list({{"A", "First"}, {"A", "Second"}}), "A", "First"},
        {"ideographic space in the entry", list({{"\u5B87\u591A\u3000\u7530", "X"}}),
         "\u5B87\u591A \u7530", "X"},
        {"decomposed name", list({{"Beyonc\u00E9", "B"}}), "Beyonce\u0301", "B"},
        {"target kept as stored", list({{"x", "Cafe\u0301"}}), "caf\u00E9", "Cafe\u0301"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.aliases.resolve(c.query), c.expected) << c.name;
}

TEST(ArtistAliases, ApplyResolvesBothArtistsAndNothingElse) {
    const ArtistAliases aliases = list({{"the band", "The Band"}});
    const TrackMeta meta("the band", "Solo", "theband", "the band", "1", "2", "2000", "the band");
    EXPECT_EQ(aliases.apply(meta),
              TrackMeta("the band", "Solo", "The Band", "the band", "1", "2", "2000", "the band"));
}

TEST(ArtistAliases, FindsVariantGroupsInCodePointOrder) {
    EXPECT_EQ(ArtistAliases::findVariants({"The Band", "the band", "TheBand", "Other", "The Band",
                                           "Caf\u00E9", "Cafe\u0301"}),
              (Groups{{"The Band", "TheBand", "the band"}}));
    EXPECT_EQ(ArtistAliases::findVariants({"b", "B", "A a", "a A"}),
              (Groups{{"A a", "a A"}, {"B", "b"}}));
    EXPECT_EQ(ArtistAliases::findVariants({}), Groups{});
}

TEST(ArtistAliases, SavesSortedAndLoadsWithFreshIds) {
    testing::TempDir folder;
    const auto file = folder / "not/yet/here" / ArtistAliases::fileName;
    const ArtistAliases saved = list({{"b/\u6B4C\u624B", "B"}, {"a", "A"}});
    saved.save(file);
    EXPECT_EQ(testing::readFile(file),
              "{\n  \"entries\": [\n    {\n      \"from\": \"b/\u6B4C\u624B\",\n"
              "      \"to\": \"B\"\n    },\n    {\n      \"from\": \"a\",\n      \"to\": \"A\"\n"
              "    }\n  ]\n}\n");
    const ArtistAliases loaded = ArtistAliases::load(file);
    ASSERT_EQ(loaded.entries.size(), 2u);
    EXPECT_NE(loaded, saved);  // each reading makes new ids
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(loaded.entries[i].from, saved.entries[i].from);
        EXPECT_EQ(loaded.entries[i].to, saved.entries[i].to);
        EXPECT_EQ(loaded.entries[i].id.size(), 36u);
    }
}

TEST(ArtistAliases, UnreadableFilesLoadAsAnEmptyList) {
    testing::TempDir folder;
    struct Case {
        std::string name, content;
    };
    const std::vector<Case> cases = {
        {"not JSON", "entries: []"},
        {"no entries", "{\"list\": []}"},
        {"an entry without to", R"({"entries": [{"from": "a", "to": "b"}, {"from": "c"}]})"},
        {"invalid UTF-8", "{\"entries\": [{\"from\": \"\xFF\", \"to\": \"b\"}]}"},
        {"a number beyond a double", R"({"entries": [{"from": "a", "to": "b", "n": 1e400}]})"},
        // Copying such nesting recursively would end the stack.
        {"deep nesting",
         R"({"entries": [)" + std::string(100000, '[') + std::string(100000, ']') + "]}"},
        // Over 1 MiB is refused unread, however valid.
        {"oversized",
         R"({"entries": [{"from": "a", "to": "b"}]})" + std::string(1024 * 1024, ' ')},
    };
    for (const Case& c : cases) {
        const auto file = folder / (c.name + ".json");
        testing::writeFile(file, c.content);
        EXPECT_TRUE(ArtistAliases::load(file).entries.empty()) << c.name;
    }
    EXPECT_TRUE(ArtistAliases::load(folder / "missing.json").entries.empty());
    EXPECT_TRUE(ArtistAliases::load(folder.path()).entries.empty());  // a folder
    ASSERT_EQ(::mkfifo((folder / "pipe.json").c_str(), 0600), 0);     // must not block
    EXPECT_TRUE(ArtistAliases::load(folder / "pipe.json").entries.empty());

    testing::writeFile(folder / "extra.json",
                       R"({"version": 2, "entries": [{"from": "a", "to": "b", "note": 1}]})");
    EXPECT_EQ(ArtistAliases::load(folder / "extra.json").entries.size(), 1u);
}

// A write that the file system refuses must leave the earlier list in place.
TEST(ArtistAliases, FailedSaveKeepsTheEarlierFile) {
    testing::TempDir folder;
    const auto file = folder / ArtistAliases::fileName;
    list({{"a", "b"}}).save(file);
    const std::string before = testing::readFile(file);

    bool threw = false;
    {
        testing::FileSizeLimit limit(16);
        ASSERT_TRUE(limit.active());
        try {
            list({{"a long name that does not fit", "b"}}).save(file);
        } catch (const ConversionError& error) {
            threw = true;
            EXPECT_NE(std::string(error.what()).find(ArtistAliases::fileName), std::string::npos);
        }
    }

    EXPECT_TRUE(threw);
    EXPECT_EQ(testing::readFile(file), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

}  // namespace
}  // namespace tarvik
