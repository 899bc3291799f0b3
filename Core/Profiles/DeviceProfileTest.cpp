#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Core/Platform/Json.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {
namespace {

using Kind = DecodingError::Kind;

DeviceProfile read(const std::string& text) {
    return DeviceProfile::fromJson(json::parse(text));
}

DeviceProfile changed(std::function<void(DeviceProfile&)> change) {
    DeviceProfile profile("x", "X");
    change(profile);
    return profile;
}

TEST(DeviceProfile, AbsentNullAndUnknownKeys) {
    struct Case {
        std::string text;
        DeviceProfile expected;
    };
    const std::vector<Case> cases = {
        {R"({"schemaVersion": 2, "id": "x", "name": "X", "notes": null, "verified": null,
             "audio": null, "isBuiltin": true, "fileURL": "/tmp/x.json", "extra": [1]})",
         changed([](DeviceProfile& p) { p.schemaVersion = 2; })},
        {R"({"schemaVersion": 1, "id": "x", "name": "X", "verified": {"date": "d", "note": "n"},
             "files": {"root": "R", "layout": "flat", "nameMax": 9, "asciiOnly": true,
                       "maxPerFolder": 3, "maxDepth": 2, "displayWidthMax": null, "other": 1}})",
         changed([](DeviceProfile& p) {
             p.verified = DeviceProfile::Verified{"d", "n"};
             p.files = {"R", DeviceProfile::Files::Layout::flat, 9, true, 3, 2, std::nullopt};
         })},
    };
    for (const Case& c : cases) {
        const DeviceProfile profile = read(c.text);
        EXPECT_EQ(profile, c.expected) << c.text;
        EXPECT_EQ(DeviceProfile::fromJson(profile.toJson()), profile) << c.text;
    }
}

TEST(DeviceProfile, EveryMemberSurvivesWritingAndReading) {
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

    DeviceProfile elsewhere = profile;
    elsewhere.fileURL = "/elsewhere/x.json";
    EXPECT_NE(elsewhere, profile);  // same id, other file
    EXPECT_EQ(profile.fileExtension(), "m4a");
    EXPECT_EQ(DeviceProfile("x", "X").fileExtension(), "mp3");
}

TEST(DeviceProfile, DecodingErrorsNameTheKey) {
    struct Case {
        std::string text;
        Kind kind;
        std::string path;
    };
    const std::string head = R"("schemaVersion": 1, "id": "x", "name": "X")";
    const std::vector<Case> cases = {
        {"{", Kind::dataCorrupted, ""},
        {"[]", Kind::typeMismatch, ""},
        {R"({"schemaVersion": 1, "name": "X"})", Kind::keyNotFound, "id"},
        {R"({"schemaVersion": null, "id": "x", "name": "X"})", Kind::valueNotFound,
         "schemaVersion"},
        {"{" + head + R"(, "notes": 5})", Kind::typeMismatch, "notes"},
        {"{" + head + R"(, "verified": {"date": "d"}})", Kind::keyNotFound, "verified.note"},
        {"{" + head + R"(, "audio": 5})", Kind::typeMismatch, "audio"},
        {"{" + head + R"(, "audio": {"codec": "mp3", "bitrate": "192", "sampleRate": 44100}})",
         Kind::typeMismatch, "audio.bitrate"},
        {"{" + head + R"(, "audio": {"codec": "MP3", "bitrate": 192, "sampleRate": 44100}})",
         Kind::dataCorrupted, "audio.codec"},
        {"{" + head +
             R"(, "tags": {"format": "id3v2.3", "encoding": "SHIFT_JIS", "id3v1": false,
                 "artwork": {"enabled": false, "maxPx": 300}}})",
         Kind::dataCorrupted, "tags.encoding"},
        {"{" + head + R"(, "tags": {"format": "mp4", "encoding": "utf8", "id3v1": false,
                 "artwork": null}})",
         Kind::valueNotFound, "tags.artwork"},
        {"{" + head + R"(, "files": {"layout": "flat", "nameMax": 60, "asciiOnly": false,
                 "maxPerFolder": 0, "maxDepth": 8, "displayWidthMax": 20}})",
         Kind::keyNotFound, "files.root"},
        {"{" + head + R"(, "media": {"filesystem": "fat32", "maxCardGB": 1.5}})",
         Kind::dataCorrupted, "media.maxCardGB"},
        // The older form is read when the version key is absent.
        {R"({"id": "x"})", Kind::keyNotFound, "name"},
        {R"({"id": null, "name": "X"})", Kind::valueNotFound, "id"},
        {R"({"id": "x", "name": "X", "bitrate": 192})", Kind::typeMismatch, "bitrate"},
        {R"({"id": "x", "name": "X", "sample_rate": "44100"})", Kind::typeMismatch, "sample_rate"},
    };
    for (const Case& c : cases) {
        try {
            read(c.text);
            ADD_FAILURE() << "read: " << c.text;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind) << c.text;
            EXPECT_EQ(error.codingPath(), c.path) << c.text;
        }
    }
}

}  // namespace
}  // namespace tarvik
