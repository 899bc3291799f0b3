#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "Core/Platform/Json.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {
namespace {

using Kind = DecodingError::Kind;

TEST(DeviceProfile, EveryMemberSurvivesWritingAndReadingAndNullsAreAbsent) {
    DeviceProfile profile("id/with slash", "名前");
    profile.schemaVersion = 7;
    profile.notes = "メモ";
    profile.verified = DeviceProfile::Verified{"2024-05-01", "OK"};
    profile.audio = {DeviceProfile::Audio::Codec::aac, 256, 48000};
    profile.tags = {
        DeviceProfile::Tags::Format::mp4, DeviceProfile::Tags::Encoding::latin1, true, {true, 640}};
    profile.files = {"ROOT", DeviceProfile::Files::Layout::artist, 40, true, 99, 3, 24};
    profile.media = {"exfat", 128};
    EXPECT_EQ(DeviceProfile::fromJson(json::parse(json::pretty(profile.toJson()))), profile);

    // Nulls and unknown keys read as absent; the store's own members are never read.
    DeviceProfile expected("x", "X");
    expected.files.layout = DeviceProfile::Files::Layout::flat;
    EXPECT_EQ(DeviceProfile::fromJson(json::parse(
                  R"({"schemaVersion": 1, "id": "x", "name": "X", "notes": null, "verified": null,
                      "audio": null, "isBuiltin": true, "fileURL": "/tmp/x.json", "extra": [1],
                      "files": {"root": "MUSIC", "layout": "flat", "nameMax": 60, "asciiOnly":
                      false, "maxPerFolder": 0, "maxDepth": 8, "displayWidthMax": null, "other": 1}})")),
              expected);
    expected.fileURL = "/elsewhere/x.json";
    EXPECT_NE(expected, DeviceProfile::fromJson(expected.toJson())) << "same id, other file";
}

TEST(DeviceProfile, DecodingErrorsNameTheKey) {
    const std::string head = R"({"schemaVersion": 1, "id": "x", "name": "X", )";
    const std::vector<std::tuple<std::string, Kind, std::string>> cases = {
        {"{", Kind::dataCorrupted, ""},
        {"[]", Kind::typeMismatch, ""},
        {R"({"schemaVersion": 1, "name": "X"})", Kind::keyNotFound, "id"},
        {R"({"schemaVersion": null, "id": "x", "name": "X"})", Kind::valueNotFound,
         "schemaVersion"},
        {head + R"("notes": 5})", Kind::typeMismatch, "notes"},
        {head + R"("verified": {"date": "d"}})", Kind::keyNotFound, "verified.note"},
        {head + R"("audio": {"codec": "mp3", "bitrate": "192", "sampleRate": 44100}})",
         Kind::typeMismatch, "audio.bitrate"},
        {head + R"("audio": {"codec": "MP3", "bitrate": 192, "sampleRate": 44100}})",
         Kind::dataCorrupted, "audio.codec"},
        {head + R"("tags": {"format": "mp4", "encoding": "utf8", "id3v1": false,
                 "artwork": null}})",
         Kind::valueNotFound, "tags.artwork"},
        {head + R"("media": {"filesystem": "fat32", "maxCardGB": 1.5}})", Kind::dataCorrupted,
         "media.maxCardGB"},
        // The older form is read when the version key is absent.
        {R"({"id": "x"})", Kind::keyNotFound, "name"},
        {R"({"id": null, "name": "X"})", Kind::valueNotFound, "id"},
        {R"({"id": "x", "name": "X", "sample_rate": "44100"})", Kind::typeMismatch, "sample_rate"},
    };
    for (const auto& [text, kind, path] : cases) {
        try {
            DeviceProfile::fromJson(json::parse(text));
            ADD_FAILURE() << "read: " << text;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), kind) << text;
            EXPECT_EQ(error.codingPath(), path) << text;
        }
    }
}

}  // namespace
}  // namespace tarvik
