#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <tuple>

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

// The files in `folder` whose names say they were kept damaged, with their bytes.
std::map<std::string, std::string> keptDamaged(const std::filesystem::path& folder) {
    std::map<std::string, std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("artist-aliases.damaged-") && name.ends_with(".json"))
            kept[name] = testing::readFile(entry.path());
    }
    return kept;
}

// A file of many aliases with one stray Latin-1 byte, one null entry or a
// cut-off end is named as unreadable, and the next save keeps it beside the
// new file byte for byte, a second one under a name of its own (numbered
// within one second); a file read whole, or none at all, is simply replaced.
TEST(ArtistAliases, ADamagedFileIsNamedAndKeptBesideByTheNextSave) {
    ArtistAliases many;
    for (int i = 0; i < 51; ++i) many.entries.emplace_back("Name " + std::to_string(i), "N");
    testing::TempDir folder;
    const auto file = folder / ArtistAliases::fileName;
    many.save(file);
    const std::string whole = testing::readFile(file);
    const std::size_t second = whole.find("Name 1\"");
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> damages = {
        {whole.substr(0, second) + "Caf\xE9" + whole.substr(second + 4), "JSON として読めません"},
        {whole.substr(0, whole.find('{', 2)) + "null, " + whole.substr(whole.find('{', 2)),
         "キー「entries[0]」の値がありません"},
        {whole.substr(0, whole.size() / 2), "JSON として読めません"},
        // Whole and sound, but beyond what the reader takes.
        {whole + std::string(1024 * 1024, ' '),
         "読めません: artist-aliases.json（大きすぎます）"}};
    // clang-format on
    const ArtistAliases fresh = list({{"Kurune Tobari", "くるねとばり"}});
    for (const auto& [bytes, problem] : damages) {
        std::filesystem::remove_all(folder.path());
        testing::writeFile(file, bytes);
        const ArtistAliases::Reading reading = ArtistAliases::read(file);
        EXPECT_EQ(reading.problem, problem);
        EXPECT_TRUE(reading.aliases.entries.empty());
        fresh.save(file);
        fresh.save(file);  // the file is whole now: nothing more is kept
        testing::writeFile(file, bytes);
        fresh.save(file);
        const auto kept = keptDamaged(folder.path());
        ASSERT_EQ(kept.size(), 2U) << problem;
        for (const auto& [name, content] : kept) EXPECT_EQ(content, bytes) << name;
        EXPECT_EQ(ArtistAliases::load(file).entries.at(0).to, "くるねとばり");
    }
    for (const char* name : {"missing.json", ArtistAliases::fileName}) {
        EXPECT_EQ(ArtistAliases::read(folder / name).problem, std::nullopt) << name;
    }
    EXPECT_EQ(ArtistAliases::damagedName("/d/artist-aliases.json", "20240501-093000", 3),
              "/d/artist-aliases.damaged-20240501-093000-3.json");
}

// A row is refused where an earlier one already decides its name for
// another target, by the comparison the export resolves names with.
TEST(ArtistAliases, AnEntryDecidedBeforeIsOneWhoseNameAnEarlierEntrySendsElsewhere) {
    // entries, then for each entry the earlier one that decides it (-1: none)
    const std::vector<std::pair<ArtistAliases, std::vector<int>>> cases = {
        {list({{"The Band", "THE BAND"}, {"theband", "The Band!"}}), {-1, 0}},
        {list({{"The Band", "THE BAND"}, {"the\u3000band", "THE BAND"}}), {-1, -1}},
        {list({{"The Band", "THE BAND"}, {"The Band", "The Band"}}), {-1, 0}},  // not the same form
        {list({{"A", "B"}, {"b", "C"}}), {-1, 0}},  // B already is a target
        {list({{"A", ""}, {"a", "C"}}), {-1, -1}},  // an empty target decides nothing
        {list({{"Caf\u00E9", "X"}, {"Cafe\u0301", "Y"}, {"Other", "Y"}}), {-1, 0, -1}},
        {list({{"A", "B"}, {"The-Band", "C"}, {"A", "B"}}), {-1, -1, -1}}};
    for (const auto& [aliases, decided] : cases) {
        for (std::size_t i = 0; i < decided.size(); ++i) {
            const auto earlier = aliases.decidedBefore(i);
            EXPECT_EQ(earlier ? static_cast<int>(*earlier) : -1, decided[i])
                << aliases.entries[i].from << " -> " << aliases.entries[i].to;
        }
    }
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairsOf(const ArtistAliases& aliases) {
    Pairs result;
    for (const auto& entry : aliases.entries) result.emplace_back(entry.from, entry.to);
    return result;
}

// The rows to save after another window saved the file: this window's, then
// each of the other's that this one neither has nor dropped on purpose.
TEST(ArtistAliases, MergedKeepsTheseRowsAndAddsTheOthersNotDroppedHere) {
    // base, mine, theirs, merged
    const std::vector<std::tuple<Pairs, Pairs, Pairs, Pairs>> cases = {
        {{}, {{"a", "A"}}, {{"b", "B"}}, {{"a", "A"}, {"b", "B"}}},
        {{{"a", "A"}, {"c", "C"}},
         {{"a", "A"}, {"e", "E"}},
         {{"a", "A"}, {"c", "C"}, {"g", "G"}},
         {{"a", "A"}, {"e", "E"}, {"g", "G"}}},                                // c dropped here
        {{{"a", "A"}}, {{"a", "A"}}, {}, {{"a", "A"}}},                        // gone there: kept
        {{{"a", "A"}}, {{"a", "A"}}, {{"a", "X"}}, {{"a", "A"}, {"a", "X"}}},  // both shown
        {{},
         {{"Caf\u00E9", "C"}},
         {{"Cafe\u0301", "C"}, {"d", "D"}},
         {{"Caf\u00E9", "C"}, {"d", "D"}}}};
    for (const auto& [base, mine, theirs, expected] : cases) {
        const ArtistAliases result = ArtistAliases::merged(list(base), list(mine), list(theirs));
        EXPECT_EQ(pairsOf(result), expected) << theirs.size();
    }
}

// Two windows read the file, one saves, then the other: the second save
// writes nothing and hands back both windows' rows, which its next save
// writes. A change of the bytes alone (same size, same time) counts, and
// a file made or removed meanwhile too.
TEST(ArtistAliases, ASaveOverAFileChangedMeanwhileWritesNothingAndKeepsBothWindowsRows) {
    testing::TempDir folder;
    const auto file = folder / "data" / ArtistAliases::fileName;
    const ArtistAliases::Reading first = ArtistAliases::read(file),
                                 second = ArtistAliases::read(file);
    EXPECT_EQ(first.seen, std::nullopt);
    EXPECT_TRUE(list({{"Kurune", "くるね"}}).saveOver(file, second).saved);
    const ArtistAliases::SaveOver late = list({{"ab", "AB"}}).saveOver(file, first);
    EXPECT_FALSE(late.saved);
    EXPECT_EQ(pairsOf(ArtistAliases::load(file)), (Pairs{{"Kurune", "くるね"}}));
    EXPECT_EQ(pairsOf(late.now.aliases), (Pairs{{"Kurune", "くるね"}}));
    EXPECT_EQ(pairsOf(late.merged), (Pairs{{"ab", "AB"}, {"Kurune", "くるね"}}));
    EXPECT_TRUE(late.merged.saveOver(file, late.now).saved);
    EXPECT_EQ(pairsOf(ArtistAliases::load(file)), (Pairs{{"ab", "AB"}, {"Kurune", "くるね"}}));

    // Other bytes of the same length, the time put back as it was.
    const ArtistAliases::Reading read = ArtistAliases::read(file);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    std::string bytes = testing::readFile(file);
    bytes.replace(bytes.find("ab"), 2, "xy");
    testing::writeFile(file, bytes);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const ArtistAliases::SaveOver meanwhile = list({{"ab", "AB"}}).saveOver(file, read);
    EXPECT_FALSE(meanwhile.saved);
    EXPECT_EQ(testing::readFile(file), bytes);
    EXPECT_EQ(pairsOf(meanwhile.merged), (Pairs{{"ab", "AB"}, {"xy", "AB"}}));

    std::filesystem::remove(file);
    EXPECT_FALSE(list({}).saveOver(file, meanwhile.now).saved);
    EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace tarvik
