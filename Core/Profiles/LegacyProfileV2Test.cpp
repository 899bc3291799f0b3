#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "Core/Platform/Json.hpp"
#include "Core/Profiles/DeviceProfile.hpp"
#include "Core/Profiles/LegacyProfileV2.hpp"

namespace tarvik {
namespace {

using Codec = DeviceProfile::Audio::Codec;
using Format = DeviceProfile::Tags::Format;
using Encoding = DeviceProfile::Tags::Encoding;
using Layout = DeviceProfile::Files::Layout;

DeviceProfile changed(std::function<void(DeviceProfile&)> change) {
    DeviceProfile profile("old", "Old");
    change(profile);
    return profile;
}

TEST(LegacyProfileV2, MigratesEachKeyWithExactMatchFallbacks) {
    struct Case {
        std::string keys;  // added after "id" and "name"
        DeviceProfile expected;
    };
    const std::vector<Case> cases = {
        {"", DeviceProfile("old", "Old")},
        {R"("codec": "aac")", changed([](DeviceProfile& p) { p.audio.codec = Codec::aac; })},
        {R"("codec": "AAC")", DeviceProfile("old", "Old")},
        {R"("tag_format": "mp4")", changed([](DeviceProfile& p) { p.tags.format = Format::mp4; })},
        {R"("tag_encoding": "shift_jis")",
         changed([](DeviceProfile& p) { p.tags.encoding = Encoding::shiftJIS; })},
        {R"("layout": "artist")",
         changed([](DeviceProfile& p) { p.files.layout = Layout::artist; })},
        {R"("layout": "artist-album", "notes": null, "bitrate": null)",
         DeviceProfile("old", "Old")},
        // Nested objects of the current form are not read without a version key.
        {R"("audio": {"codec": "aac", "bitrate": 320, "sampleRate": 48000},
            "files": {"root": "X"}, "media": 5)",
         DeviceProfile("old", "Old")},
        {R"("notes": "n", "codec": "aac", "bitrate": "256k", "sample_rate": 48000,
            "tag_format": "id3v2.4", "tag_encoding": "latin1", "id3v1": true, "artwork": true,
            "artwork_max_px": 500, "root_folder": "AUDIO", "layout": "album", "name_max": 32,
            "ascii_only": true, "max_files_per_folder": 99)",
         changed([](DeviceProfile& p) {
             p.notes = "n";
             p.audio = {Codec::aac, 256, 48000};
             p.tags = {Format::id3v2_4, Encoding::latin1, true, {true, 500}};
             p.files = {"AUDIO", Layout::album, 32, true, 99, 8, std::nullopt};
         })},
    };
    for (const Case& c : cases) {
        const std::string text =
            R"({"id": "old", "name": "Old")" + (c.keys.empty() ? "" : ", " + c.keys) + "}";
        const DeviceProfile profile = DeviceProfile::fromJson(json::parse(text));
        EXPECT_EQ(profile, c.expected) << text;
        // Written back, it is a profile of the current form.
        const nlohmann::json written = profile.toJson();
        EXPECT_EQ(written.at("schemaVersion"), 1);
        EXPECT_EQ(DeviceProfile::fromJson(written), profile) << text;
    }
}

TEST(LegacyProfileV2, BitrateKeepsOnlyAPlainNumber) {
    const std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    const std::vector<std::pair<std::optional<std::string>, std::int64_t>> cases = {
        {std::nullopt, 192},
        {"320k", 320},
        {"128 kbps", 128},
        {"1,411", 1411},
        {"0128k", 128},
        {"-96", 96},
        {"0", 0},
        {"VBR", 192},
        {"", 192},
        {"\uFF13\uFF12\uFF10k", 192},  // full-width digits
        {"\u00B3\u00B2\u2070", 192},   // superscripts
        {"12\u00BD", 192},             // a vulgar fraction is numeric, not a digit
        {"1\u0301"
         "28",
         192},  // a digit carrying an accent
        {"9223372036854775807", largest},
        {"9223372036854775808", 192},
        {"0000000000000000000000000320k", 320},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(LegacyProfileV2::bitrateKbps(text), expected) << text.value_or("(absent)");
    }
}

}  // namespace
}  // namespace tarvik
