#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Core/Platform/Json.hpp"
#include "Core/Profiles/ProfileValidator.hpp"

namespace tarvik::ProfileValidator {
namespace {

// Each case: what differs from a default profile, and the fields of the
// problems found, in order. The bounds are taken on both sides.
TEST(ProfileValidator, ReportsEveryProblemInOrder) {
    using Fields = std::vector<std::string>;
    // clang-format off
    const std::vector<std::pair<std::string, Fields>> cases = {
        {R"({"audio": {"bitrate": 96, "sampleRate": 48000}, "tags": {"artwork": {"enabled": true,
            "maxPx": 100}}, "files": {"nameMax": 8, "maxPerFolder": 0}})", {}},
        {R"({"audio": {"bitrate": 320}, "tags": {"format": "id3v2.4", "encoding": "utf8",
            "artwork": {"enabled": true, "maxPx": 1200}}, "files": {"nameMax": 200,
            "maxPerFolder": 999}})", {}},
        {R"({"tags": {"format": "id3v1", "encoding": "shift_jis"}})", {}},
        {R"({"tags": {"format": "id3v1", "encoding": "latin1", "artwork": {"maxPx": 5000}}})", {}},
        {R"({"id": "\u3000\u3000", "name": " \t"})", {"id", "name"}},
        {R"({"audio": {"codec": "aac"}, "tags": {"format": "id3v1", "artwork": {"enabled": true},
            "id3v1": true}})",
         {"tags.format", "tags.format", "tags.encoding", "tags.artwork", "tags.id3v1"}},
        {R"({"tags": {"format": "mp4"}})", {"tags.format"}},
        {R"({"tags": {"encoding": "utf8"}})", {"tags.encoding"}},
        {R"({"audio": {"bitrate": 0, "sampleRate": 22050}, "tags": {"artwork": {"enabled": true,
            "maxPx": 99}}, "files": {"nameMax": 7, "maxPerFolder": -1}})",
         {"audio.bitrate", "audio.sampleRate", "tags.artwork.maxPx", "files.nameMax",
          "files.maxPerFolder"}},
        {R"({"audio": {"bitrate": 193}, "tags": {"artwork": {"enabled": true, "maxPx": 1201}},
            "files": {"nameMax": 201, "maxPerFolder": 1000}})",
         {"audio.bitrate", "tags.artwork.maxPx", "files.nameMax", "files.maxPerFolder"}}};
    // clang-format on
    for (const auto& [patch, expected] : cases) {
        nlohmann::json file = DeviceProfile("id", "Name").toJson();
        file.merge_patch(json::parse(patch));
        const std::vector<Problem> problems = validate(DeviceProfile::fromJson(file));
        Fields fields(problems.size());
        std::ranges::transform(problems, fields.begin(), &Problem::field);
        EXPECT_EQ(fields, expected) << patch;
    }
}

// The top folder is joined to the destination: it must not climb out of it,
// name it again, start somewhere else or hold what no card can show (nor
// bytes that are not UTF-8).
TEST(ProfileValidator, TopFolderIsOneHarmlessName) {
    const Problem bad{"files.root", "フォルダ名に使えない文字が入っています"};
    const Problem dots{"files.root", "空白や「.」「..」だけの名前はフォルダ名にできません"};
    // clang-format off
    const std::vector<std::pair<std::vector<std::string>, std::vector<Problem>>> groups = {
        {{"ＭＵＳＩＣ／＊", "", ".MUSIC", " MUSIC.", "\u3000"}, {}},
        {{"..", ".", "...", " ..", ".. ", " . ", " "}, {dots}},
        {{"../Documents"}, {bad, dots}},
        {{"MUSIC/A", "曲|", "/home", std::string("MU\0SIC", 6), "MUSIC\n", "MU\x7FSIC",
          "MU\u0085SIC", "caf\xE9"}, {bad}}};
    // clang-format on
    for (const auto& [roots, expected] : groups) {
        for (const std::string& root : roots) {
            DeviceProfile profile("id", "Name");
            profile.files.root = root;
            EXPECT_EQ(validate(profile), expected) << root;
        }
    }
}

}  // namespace
}  // namespace tarvik::ProfileValidator
