#include <gtest/gtest.h>

#include "Core/Platform/Json.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {
namespace {

// The store's own members are never written, but they tell profiles apart.
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
    EXPECT_NE(elsewhere, profile) << "same id, other file";
    EXPECT_EQ(DeviceProfile::fromJson(elsewhere.toJson()), profile);
}

}  // namespace
}  // namespace tarvik
