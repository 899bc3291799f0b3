#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Core/Naming/ArtistAliases.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

ArtistAliases list(std::vector<std::pair<std::string, std::string>> pairs) {
    ArtistAliases aliases;
    for (auto& [from, to] : pairs) aliases.entries.emplace_back(from, to);
    return aliases;
}

TEST(ArtistAliases, ResolvesToTheFirstUsableMatch) {
    // An empty target is skipped and the earlier entry wins; the target is
    // kept as stored; names match ignoring case, spaces and normal form.
    const ArtistAliases aliases = list(
        {{"The Band", "THE BAND"}, {"A", ""}, {"a", "Alpha"}, {"A", "2"}, {"\u00E9", "e\u0301"}});
    for (const char* query : {"the band", "The\u3000Band", "TheBand"}) {
        EXPECT_EQ(aliases.resolve(query), "THE BAND") << query;
    }
    EXPECT_EQ(aliases.resolve("The-Band"), std::nullopt);
    EXPECT_EQ(aliases.resolve(""), std::nullopt);
    EXPECT_EQ(aliases.resolve("A"), "Alpha");
    EXPECT_EQ(aliases.resolve("E\u0301"), "e\u0301");
    EXPECT_EQ(aliases.apply(TrackMeta("the band", "Solo", "theband", "the band", "1", "", "", "")),
              TrackMeta("the band", "Solo", "THE BAND", "the band", "1", "", "", ""));
    EXPECT_EQ(ArtistAliases::findVariants({"b", "B", "A a", "a A", "Caf\u00E9", "Cafe\u0301"}),
              (std::vector<std::vector<std::string>>{{"A a", "a A"}, {"B", "b"}}));
}

// Bad, huge, deep, FIFO or folder: an empty list, read without blocking or
// exhausting the stack; unknown members are no fault.
TEST(ArtistAliases, UnreadableFilesLoadAsAnEmptyList) {
    testing::TempDir folder;
    const std::string entry = R"({"from": "a", "to": "b")";
    const std::vector<std::string> contents = {
        "entries: []",
        "{\"list\": []}",
        R"({"entries": [)" + entry + R"(}, {"from": "c"}]})",
        "{\"entries\": [{\"from\": \"\xFF\", \"to\": \"b\"}]}",
        R"({"entries": [)" + entry + R"(, "n": 1e400}]})",
        R"({"entries": [)" + std::string(100000, '[') + std::string(100000, ']') + "]}",
        R"({"entries": [)" + entry + "}]}" + std::string(1024 * 1024, ' ')};
    for (std::size_t i = 0; i < contents.size(); ++i) {
        testing::writeFile(folder / std::to_string(i), contents[i]);
        EXPECT_TRUE(ArtistAliases::load(folder / std::to_string(i)).entries.empty()) << i;
    }
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    for (const char* name : {"missing", "pipe", ""}) {
        EXPECT_TRUE(ArtistAliases::load(folder / name).entries.empty()) << name;
    }
    testing::writeFile(folder / "extra", R"({"v": 2, "entries": [)" + entry + R"(, "n": 1}]})");
    EXPECT_EQ(ArtistAliases::load(folder / "extra").entries.size(), 1u);
}

// Saved lists load back; a write that the file system refuses
// leaves the earlier list in place.
TEST(ArtistAliases, SavesAndKeepsTheEarlierFileWhenASaveFails) {
    testing::TempDir folder;
    const auto file = folder / "not/yet/here" / ArtistAliases::fileName;
    list({{"b/\u6B4C\u624B", "B"}, {"a", "A"}}).save(file);
    const ArtistAliases loaded = ArtistAliases::load(file);
    EXPECT_EQ(loaded.entries.at(0).from + loaded.entries.at(1).to, "b/\u6B4C\u624BA");

    const std::string before = testing::readFile(file);
    testing::FileSizeLimit limit(16);
    ASSERT_TRUE(limit.active());
    EXPECT_THROW(list({{"a long name that does not fit", "b"}}).save(file), ConversionError);
    EXPECT_EQ(testing::readFile(file), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
}

}  // namespace
}  // namespace tarvik
