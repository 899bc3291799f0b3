#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Platform/Json.hpp"
#include "Core/Profiles/ProfileValidator.hpp"

namespace tarvik::ProfileValidator {
namespace {

using Fields = std::vector<std::string>;

Fields fieldsOf(const DeviceProfile& profile) {
    Fields fields;
    for (const Problem& problem : validate(profile)) fields.push_back(problem.field);
    return fields;
}

TEST(ProfileValidator, ReportsEveryProblemInOrder) {
    const std::string aacV1Art =
        R"("audio": {"codec": "aac"}, "tags": {"format": "id3v1", "artwork": {"enabled": true})";
    const std::string bounds = R"({"id": "\n", "audio": {"codec": "aac", "bitrate": 96,
        "sampleRate": 48000}, "tags": {"format": "mp4", "artwork": {"enabled": true, "maxPx":
        1200}}, "files": {"nameMax": 8, "maxPerFolder": 999}})";
    const Fields v1 = {"tags.format", "tags.format", "tags.encoding", "tags.artwork"};
    const Fields limits = {"files.nameMax", "files.maxPerFolder"};
    const std::string rate = "audio.sampleRate";
    // clang-format off
    const std::vector<std::pair<std::string, Fields>> cases = {
        {"{}", {}}, {bounds, {}},
        {R"({"tags": {"format": "id3v2.4", "encoding": "utf8", "artwork": {"maxPx": 5000}}})", {}},
        {R"({"tags": {"format": "id3v1", "encoding": "latin1"}})", {}},
        {R"({"tags": {"format": "id3v1", "encoding": "shift_jis"}})", {}},
        {R"({"id": "\u3000\u3000", "name": " \t"})", {"id", "name"}},
        {"{" + aacV1Art + "}}", v1},
        {"{" + aacV1Art + R"(, "id3v1": true}})", {v1[0], v1[1], v1[2], v1[3], "tags.id3v1"}},
        {R"({"tags": {"format": "mp4"}})", {"tags.format"}},
        {R"({"tags": {"encoding": "utf8"}})", {"tags.encoding"}},
        {R"({"tags": {"artwork": {"enabled": true, "maxPx": 99}}})", {"tags.artwork.maxPx"}},
        {R"({"tags": {"artwork": {"enabled": true, "maxPx": 1201}}})", {"tags.artwork.maxPx"}},
        {R"({"audio": {"bitrate": 0, "sampleRate": 22050}})", {"audio.bitrate", rate}},
        {R"({"audio": {"bitrate": 193}})", {"audio.bitrate"}},
        {R"({"files": {"nameMax": 7, "maxPerFolder": -1}})", limits},
        {R"({"files": {"nameMax": 201, "maxPerFolder": 1000}})", limits}};
    // clang-format on
    for (const auto& [patch, expected] : cases) {
        nlohmann::json file = DeviceProfile("id", "Name").toJson();
        file.merge_patch(json::parse(patch));
        EXPECT_EQ(fieldsOf(DeviceProfile::fromJson(file)), expected) << patch;
    }
}

// The top folder is joined to the destination: it must not climb out of it,
// name it again, start somewhere else or hold what no card can show (nor
// bytes that are not UTF-8).
TEST(ProfileValidator, TopFolderIsOneHarmlessName) {
    const Problem bad{"files.root", "フォルダ名に使えない文字が入っています"};
    const Problem dots{"files.root", "「.」や「..」はフォルダ名にできません"};
    const std::vector<std::pair<std::vector<std::string>, std::vector<Problem>>> groups = {
        {{"ＭＵＳＩＣ／＊", "", "...", ".MUSIC"}, {}},
        {{"..", "."}, {dots}},
        {{"../Documents"}, {bad, dots}},
        {{"MUSIC/A", "曲|", "/home", std::string("MU\0SIC", 6), "MUSIC\n", "MU\x7FSIC",
          "MU\u0085SIC", "caf\xE9"},
         {bad}}};
    for (const auto& [roots, expected] : groups) {
        for (const std::string& root : roots) {
            DeviceProfile profile("id", "Name");
            profile.files.root = root;
            EXPECT_EQ(validate(profile), expected) << root;
        }
    }
    EXPECT_EQ(dots.description(), "files.root: 「.」や「..」はフォルダ名にできません");
}

}  // namespace
}  // namespace tarvik::ProfileValidator
