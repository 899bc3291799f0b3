#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Core/Platform/Errors.hpp"
#include "Core/Profiles/ProfileStore.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::ProfileStore {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

void writeProfile(const fs::path& file, const std::string& id, const std::string& name) {
    writeFile(file, R"({"schemaVersion": 1, "id": ")" + id + R"(", "name": ")" + name + "\"}");
}

std::vector<std::string> idsOf(const std::vector<DeviceProfile>& profiles) {
    std::vector<std::string> ids;
    for (const auto& profile : profiles) ids.push_back(profile.id + "/" + profile.name);
    return ids;
}

std::size_t entriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(ProfileStore, LoadsDeliveredThenUserInDisplayOrderPassingOverWhatIsNoProfile) {
    TempDir temp;
    const fs::path builtin = temp / "builtin", user = temp / "user";
    writeProfile(builtin / "generic-mp3.json", "generic-mp3", "Generic");
    writeProfile(builtin / "other.json", "zz-other", "A");
    writeProfile(builtin / "panasonic-hds940d.json", "panasonic-hds940d", "Z unit");
    writeProfile(user / "b.json", "aa-user", "B");
    writeProfile(user / ".upper.json", "u2", "b");
    writeProfile(user / "lower.json", "u1", "a");
    writeProfile(user / "mine.json", "generic-mp3", "Generic");  // beside the delivered one
    writeFile(user / "old.json", R"({"id": "legacy", "name": "C", "bitrate": "128k"})");
    // Not loaded: other names, no profile, numbers beyond a double, over 1 MiB,
    // a folder, and a FIFO that must not stall loading.
    writeProfile(user / "other.txt", "txt", "Txt");
    writeProfile(user / "upper.JSON", "upper", "Upper");
    writeFile(user / "broken.json", R"({"schemaVersion": 1, "id": "broken"})");
    writeFile(user / "garbage.json", "not json");
    writeFile(user / "overflow.json", R"({"schemaVersion": 1e400})");
    writeProfile(user / "huge.json", "huge", "Huge");
    writeFile(user / "huge.json", readFile(user / "huge.json") + std::string(1024 * 1024, ' '));
    fs::create_directories(user / "folder.json");
    ASSERT_EQ(::mkfifo((user / "pipe.json").c_str(), 0600), 0);

    const auto profiles = loadAll(builtin, user);
    EXPECT_EQ(idsOf(profiles),
              (std::vector<std::string>{"panasonic-hds940d/Z unit", "generic-mp3/Generic",
                                        "generic-mp3/Generic", "u1/a", "zz-other/A", "u2/b",
                                        "aa-user/B", "legacy/C"}));
    EXPECT_TRUE(profiles[1].isBuiltin);
    EXPECT_EQ(profiles[1].fileURL, builtin / "generic-mp3.json");
    EXPECT_FALSE(profiles[2].isBuiltin);
    EXPECT_EQ(profiles[2].fileURL, user / "mine.json");
    EXPECT_EQ(profiles.back().audio.bitrate, 128);
    EXPECT_TRUE(loadAll(std::nullopt, temp / "missing").empty());
    EXPECT_TRUE(loadAll(builtin / "other.json", std::nullopt).empty());
}

TEST(ProfileStore, SavesPrettySortedReplacingTheEarlierFileOrKeepingItWhenAWriteFails) {
    TempDir temp;
    const fs::path folder = temp / "data" / "profiles";
    DeviceProfile profile("mine", "First");
    profile.isBuiltin = true;
    profile.fileURL = "/somewhere/else.json";
    EXPECT_EQ(save(profile, folder), folder / "mine.json");
    profile.name = "Second";
    EXPECT_EQ(save(profile, folder), folder / "mine.json");

    const std::string text = readFile(folder / "mine.json");
    EXPECT_EQ(text.rfind("{\n  \"audio\": {\n    \"bitrate\": 192,\n", 0), 0U) << text;
    EXPECT_NE(text.find("\"layout\": \"artist/album\""), std::string::npos);
    EXPECT_EQ(text.find("isBuiltin"), std::string::npos);
    EXPECT_EQ(text.find("fileURL"), std::string::npos);
    DeviceProfile expected("mine", "Second");
    expected.fileURL = folder / "mine.json";
    EXPECT_EQ(load(folder / "mine.json", false), expected);

    profile.notes = std::string(4000, 'n');
    {
        testing::FileSizeLimit limit(1000);
        if (!limit.active()) GTEST_SKIP() << "cannot lower the file size limit";
        EXPECT_THROW(save(profile, folder), ConversionError);
    }
    EXPECT_EQ(readFile(folder / "mine.json"), text);
    EXPECT_EQ(entriesIn(folder), 1U);  // no temporary file left
}

TEST(ProfileStore, RefusedSaveTouchesNothing) {
    TempDir temp;
    const fs::path folder = temp / "new" / "profiles";
    try {
        save(DeviceProfile("mine", " "), folder);
        ADD_FAILURE() << "saved";
    } catch (const ProfileError& error) {
        EXPECT_EQ(error, ProfileError::invalid({{"name", "機種の名前を入れてください"}}));
        EXPECT_STREQ(error.what(), "name: 機種の名前を入れてください");
    }
    for (const std::string& id :
         std::vector<std::string>{"a/b", "../up", "/abs", "a\\b", ".hidden", "..", "."}) {
        try {
            save(DeviceProfile(id, "Name"), folder);
            ADD_FAILURE() << "saved " << id;
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.description(), "ID「" + id + "」はファイル名に使えません");
        }
    }
    EXPECT_THROW(save(DeviceProfile(std::string("a\0b", 3), "Name"), folder), ConversionError);
    EXPECT_EQ(entriesIn(temp.path()), 0U);
}

TEST(ProfileStore, DeliveredProfilesLoadInDisplayOrderAndAreValid) {
    const fs::path folder = TARVIK_SOURCE_DIR "/App/Resources/profiles";
    const auto profiles = loadAll(folder, std::nullopt);
    ASSERT_EQ(profiles.size(), builtinOrder.size());
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        const DeviceProfile& profile = profiles[i];
        EXPECT_EQ(profile.id, builtinOrder[i]);
        EXPECT_FALSE(profile.notes.empty());
        EXPECT_EQ(ProfileValidator::validate(profile), std::vector<ProfileValidator::Problem>{})
            << profile.id;
        // The files are in the form the store writes, so a save changes nothing.
        EXPECT_EQ(readFile(folder / (profile.id + ".json")), json::pretty(profile.toJson()));
    }
    EXPECT_TRUE(profiles[0].nameRules().forJIS);
    EXPECT_EQ(profiles[3].fileExtension(), "m4a");
}

}  // namespace
}  // namespace tarvik::ProfileStore
