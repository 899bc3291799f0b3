#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Profiles/ProfileStore.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"

namespace tarvik::ProfileStore {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::thrown;

std::string profileText(const std::string& id, const std::string& name) {
    return R"({"schemaVersion": 1, "id": ")" + id + R"(", "name": ")" + name + "\"}";
}

// The delivered profiles come first, in their own order, each valid and in
// the form a save writes; then the user's by name, nulls and unknown keys read
// as absent and the store's own members taken from where the file lies. Not
// loaded: other names, no profile, data read strictly (an unknown text, a
// fraction, a null where a record belongs, a number beyond a double), over
// 1 MiB, a folder, and a FIFO that must not stall loading.
TEST(ProfileStore, LoadsDeliveredThenUserInDisplayOrderPassingOverWhatIsNoProfile) {
    testing::TempDir user;
    const fs::path builtin = TARVIK_SOURCE_DIR "/App/Resources/profiles";
    const std::string head = R"({"schemaVersion": 1, "id": "bad", "name": "Bad", )";
    // clang-format off
    testing::writeFiles(user.path(), {
        {"mine.json", profileText("generic-mp3", "汎用 MP3")},  // in place of the delivered one
        {"b.json", profileText("aa-user", "B")}, {".upper.json", profileText("u2", "b")},
        {"lower.json", R"({"schemaVersion": 1, "id": "u1", "name": "a", "notes": null,
                           "isBuiltin": true, "fileURL": "/x.json", "extra": [1]})"},
        {"old.json", R"({"id": "legacy", "name": "C", "bitrate": "128k"})"},
        {"other.txt", profileText("txt", "Txt")}, {"upper.JSON", profileText("up", "Up")},
        {"broken.json", R"({"schemaVersion": 1, "id": "broken"})"}, {"garbage.json", "not json"},
        {"codec.json", head + R"("audio": {"codec": "MP3", "bitrate": 192, "sampleRate": 44100}})"},
        {"card.json", head + R"("media": {"filesystem": "fat32", "maxCardGB": 1.5}})"},
        {"art.json", head + R"("tags": {"format": "mp4", "encoding": "utf8", "id3v1": false,
                                        "artwork": null}})"},
        {"rate.json", R"({"id": "x", "name": "X", "sample_rate": "44100"})"},
        {"overflow.json", R"({"schemaVersion": 1e400})"},
        {"huge.json", profileText("huge", "Huge") + std::string(1024 * 1024, ' ')}});
    // clang-format on
    fs::create_directories(user / "folder.json");
    ASSERT_EQ(::mkfifo((user / "pipe.json").c_str(), 0600), 0);

    const auto profiles = loadAll(builtin, user.path());
    std::vector<std::string> ids;
    for (const DeviceProfile& profile : profiles) {
        ids.push_back(profile.id);
        EXPECT_EQ(profile.isBuiltin, profile.fileURL->parent_path() == builtin) << profile.id;
        if (!profile.isBuiltin) continue;
        EXPECT_EQ(ProfileValidator::validate(profile), std::vector<ProfileValidator::Problem>{})
            << profile.id;
        EXPECT_EQ(readFile(*profile.fileURL), json::pretty(profile.toJson()));
    }
    EXPECT_EQ(ids,
              (std::vector<std::string>{"panasonic-hds940d", "generic-mp3", "mp3-with-art",
                                        "aac-m4a", "mp3-strict", "u1", "u2", "aa-user", "legacy"}));
    EXPECT_EQ(profiles[1].fileURL, user / "mine.json");
    EXPECT_EQ(profiles.back().audio.bitrate, 128);
    EXPECT_TRUE(loadAll(std::nullopt, user / "missing").empty());
}

// A save replaces the earlier file whole or, when refused or when a write
// fails, leaves it as it was and nothing beside it; the id never names a
// file outside the folder.
TEST(ProfileStore, SavesOnlyAValidProfileUnderItsOwnNameAndKeepsTheEarlierFileOnFailure) {
    testing::TempDir temp;
    const fs::path folder = temp / "data" / "profiles";
    EXPECT_EQ(thrown<ProfileError>([&] { save(DeviceProfile("mine", " "), folder); }),
              "name: 機種の名前を入れてください");
    for (const std::string id : {"a/b", "../up", "/abs", "a\\b", ".hidden", "..", "."}) {
        EXPECT_EQ(thrown<ConversionError>([&] { save(DeviceProfile(id, "Name"), folder); }),
                  "ID「" + id + "」はファイル名に使えません");
    }
    EXPECT_THROW(save(DeviceProfile(std::string("a\0b", 3), "Name"), folder), ConversionError);
    EXPECT_FALSE(fs::exists(temp / "data"));

    DeviceProfile profile("mine", "First");
    EXPECT_EQ(save(profile, folder), folder / "mine.json");
    const std::string text = readFile(folder / "mine.json");
    profile.notes = std::string(4000, 'n');
    {
        testing::FileSizeLimit limit(1000);
        ASSERT_TRUE(limit.active()) << "setrlimit refused to lower the file size limit";
        EXPECT_THROW(save(profile, folder), ConversionError);
    }
    EXPECT_EQ(readFile(folder / "mine.json"), text);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "no temporary file left";
}

// An id is listed once: the user's file before a delivered one, then the
// file named after the id, then the first name. The others are named, and
// left where they are.
TEST(ProfileStore, ListsAnIdOnceAndNamesTheFilesSetAside) {
    testing::TempDir user;
    const fs::path builtin = TARVIK_SOURCE_DIR "/App/Resources/profiles";
    const std::map<std::string, std::string> files = {
        {"mine.json", profileText("generic-mp3", "Mine")},
        {"Old Name.json", R"({"id": "x", "name": "Old", "bitrate": "320k"})"},
        {"x.json", profileText("x", "New")},
        {"b.json", profileText("y", "B")},
        {"a.json", profileText("y", "A")}};
    testing::writeFiles(user.path(), files);

    const Listing listing = list(builtin, user.path());
    std::map<std::string, fs::path> listedFile;
    for (const DeviceProfile& profile : listing.profiles)
        EXPECT_TRUE(listedFile.emplace(profile.id, *profile.fileURL).second) << profile.id;
    EXPECT_EQ(listedFile["generic-mp3"], user / "mine.json");
    EXPECT_EQ(listedFile["x"], user / "x.json");
    EXPECT_EQ(listedFile["y"], user / "a.json");
    std::vector<SetAside> expected = {
        {"generic-mp3", builtin / "generic-mp3.json", user / "mine.json"},
        {"x", user / "Old Name.json", user / "x.json"},
        {"y", user / "b.json", user / "a.json"}};
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& b) { return a.file < b.file; });
    EXPECT_EQ(listing.setAside, expected);
    EXPECT_EQ(testing::filesBelow(user.path()), files);
}

// A profile read from another file of the folder is saved in that file's
// place, and the folder then lists it once with the saved content. Where
// the id's own name holds another profile, that one is kept and the file
// is written where it lies; where it holds this id's listed twin, the twin
// takes the save and the older file stays as it was.
TEST(ProfileStore, SavingAProfileReadFromAnotherFileWritesItInThatPlace) {
    const std::string older = R"({"id": "x", "name": "Old", "sample_rate": 22050})";
    const std::string other = profileText("z", "Other");
    const std::string twin = profileText("x", "Twin");
    struct Case {
        const char* what;
        std::map<std::string, std::string> before;
        const char* read;
        std::string id;  // the id saved, renewed or not
        const char* written;
        std::set<std::string> untouched;
    };
    const std::vector<Case> cases = {
        {"named otherwise", {{"Old Name.json", older}}, "Old Name.json", "x", "x.json", {}},
        {"its id renewed",
         {{"Old Name.json", older}},
         "Old Name.json",
         "custom-1",
         "custom-1.json",
         {}},
        {"its name taken",
         {{"Old Name.json", older}, {"x.json", other}},
         "Old Name.json",
         "x",
         "Old Name.json",
         {"x.json"}},
        {"a twin in its name",
         {{"Old Name.json", older}, {"x.json", twin}},
         "Old Name.json",
         "x",
         "x.json",
         {"Old Name.json"}},
        {"its own name", {{"x.json", older}}, "x.json", "x", "x.json", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempDir folder;
        testing::writeFiles(folder.path(), c.before);
        DeviceProfile profile = load(folder / c.read, false);
        profile.id = c.id;
        profile.audio.sampleRate = 44100;
        EXPECT_EQ(save(profile, folder.path()), folder / c.written);

        std::set<std::string> names;
        for (const auto& [name, text] : testing::filesBelow(folder.path())) {
            names.insert(name);
            if (c.untouched.contains(name)) {
                EXPECT_EQ(text, c.before.at(name)) << name;
            }
        }
        std::set<std::string> expectedNames = c.untouched;
        expectedNames.insert(c.written);
        EXPECT_EQ(names, expectedNames);
        const auto profiles = loadAll(std::nullopt, folder.path());
        const auto saved = std::find_if(profiles.begin(), profiles.end(),
                                        [&](const auto& p) { return p.id == c.id; });
        ASSERT_NE(saved, profiles.end());
        EXPECT_EQ(saved->fileURL, folder / c.written);
        EXPECT_EQ(saved->toJson(), profile.toJson());
        EXPECT_EQ(readFile(folder / c.written), json::pretty(profile.toJson()));
    }
}

}  // namespace
}  // namespace tarvik::ProfileStore
