#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Core/Platform/Json.hpp"
#include "Core/Profiles/DeviceProfile.hpp"
#include "Core/Profiles/LegacyProfileV2.hpp"

namespace tarvik {
namespace {

// Each case: the keys after "id" and "name" of an older file, and what the
// profile read from it holds besides the defaults, in the current form.
TEST(LegacyProfileV2, MigratesEachKeyWithExactMatchFallbacks) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        // Texts are taken only as written; nested objects of the current form
        // are not read without a version key.
        {R"("codec": "AAC", "layout": "artist-album", "notes": null, "bitrate": null,
            "audio": {"codec": "aac", "bitrate": 320, "sampleRate": 48000},
            "files": {"root": "X"}, "media": 5)",
         "{}"},
        // AAC without a format of its own takes MP4 tags, the only ones it can
        // carry; one it names stays, for the editor to mend.
        {R"("codec": "aac")", R"({"audio": {"codec": "aac"}, "tags": {"format": "mp4"}})"},
        {R"("codec": "aac", "tag_format": "ID3v2.4")",
         R"({"audio": {"codec": "aac"}, "tags": {"format": "mp4"}})"},
        {R"("codec": "aac", "tag_format": "id3v2.3")", R"({"audio": {"codec": "aac"}})"},
        {R"("notes": "n", "codec": "aac", "bitrate": "256k", "sample_rate": 48000,
            "tag_format": "id3v2.4", "tag_encoding": "shift_jis", "id3v1": true, "artwork": true,
            "artwork_max_px": 500, "root_folder": "AUDIO", "layout": "album", "name_max": 32,
            "ascii_only": true, "max_files_per_folder": 99)",
         R"({"notes": "n", "audio": {"codec": "aac", "bitrate": 256, "sampleRate": 48000},
             "tags": {"format": "id3v2.4", "encoding": "shift_jis", "id3v1": true,
                      "artwork": {"enabled": true, "maxPx": 500}},
             "files": {"root": "AUDIO", "layout": "album", "nameMax": 32, "asciiOnly": true,
                       "maxPerFolder": 99}})"}};
    for (const auto& [keys, patch] : cases) {
        const std::string text = R"({"id": "old", "name": "Old", )" + keys + "}";
        nlohmann::json expected = DeviceProfile("old", "Old").toJson();
        expected.merge_patch(json::parse(patch));
        // Written back, it is a profile of the current form.
        EXPECT_EQ(DeviceProfile::fromJson(json::parse(text)).toJson(), expected) << text;
    }
}

// Full-width digits, superscripts, a vulgar fraction and a digit carrying an
// accent are no plain number; nor is one beyond the largest integer.
TEST(LegacyProfileV2, BitrateKeepsOnlyAPlainNumber) {
    // clang-format off
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"320k", 320}, {"128 kbps", 128}, {"1,411", 1411}, {"0128k", 128}, {"-96", 96},
        {"0", 0}, {"VBR", 192}, {"", 192}, {"\uFF13\uFF12\uFF10k", 192},
        {"\u00B3\u00B2\u2070", 192}, {"12\u00BD", 192}, {"1\u030128", 192},
        {"9223372036854775807", INT64_MAX}, {"9223372036854775808", 192},
        {"0000000000000000000000000320k", 320}};
    // clang-format on
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(LegacyProfileV2::bitrateKbps(text), expected) << text;
    }
    EXPECT_EQ(LegacyProfileV2::bitrateKbps(std::nullopt), 192);
}

}  // namespace
}  // namespace tarvik
