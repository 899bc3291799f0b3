#include "App/Platform/UDisksEject.hpp"

#include <gtest/gtest.h>

#include "App/Platform/LinuxVolumes.hpp"
#include "App/Testing/PrivateBus.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using Kind = UDisksEject::Outcome::Kind;

const std::filesystem::path mockTemplate = TARVIK_SOURCE_DIR "/App/Platform/testdata/udisks2_mock.py";
const std::string cardPath = "/media/u/MY CARD";

class UDisksEjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus_.available()) GTEST_SKIP() << "no dbus-daemon for a private bus";
    }

    // The stand-in UDisks2 with the card at `cardPath`; false where dbusmock is missing.
    bool startUDisks(const std::string& unmountError = "") {
        const std::string parameters = "{\"mountPoint\": \"" + cardPath + "\", \"log\": \"" +
                                       log().string() + "\", \"unmountError\": \"" +
                                       unmountError + "\"}";
        return bus_.startTemplate(mockTemplate, parameters, "org.freedesktop.UDisks2");
    }

    QDBusConnection connection() { return bus_.connect("udisks-test"); }
    std::filesystem::path log() const { return temp_ / "calls.log"; }
    std::string calls() const {
        return std::filesystem::exists(log()) ? testing::readFile(log()) : "";
    }

    testing::PrivateBus bus_;
    testing::TempDir temp_;
};

TEST_F(UDisksEjectTest, UnmountsTheCardsFileSystemThenPowersItsDriveOff) {
    if (!startUDisks()) GTEST_SKIP() << "python3-dbusmock is missing";
    const UDisksEject::Outcome outcome = UDisksEject::eject(connection(), cardPath);
    EXPECT_EQ(outcome.kind, Kind::ejected);
    EXPECT_EQ(calls(),
              "/org/freedesktop/UDisks2/block_devices/sdb1 Unmount\n"
              "/org/freedesktop/UDisks2/drives/Card_Reader_0001 PowerOff\n");
}

TEST_F(UDisksEjectTest, RefusedUnmountGivesUDisksReasonAndNoPowerOff) {
    if (!startUDisks("Error unmounting /dev/sdb1: target is busy"))
        GTEST_SKIP() << "python3-dbusmock is missing";
    const UDisksEject::Outcome outcome = UDisksEject::eject(connection(), cardPath);
    EXPECT_EQ(outcome.kind, Kind::failed);
    EXPECT_EQ(outcome.reason, "Error unmounting /dev/sdb1: target is busy");
    EXPECT_EQ(calls(), "/org/freedesktop/UDisks2/block_devices/sdb1 Unmount\n");
}

TEST_F(UDisksEjectTest, MountUnknownToUDisksIsLeftToUmount) {
    if (!startUDisks()) GTEST_SKIP() << "python3-dbusmock is missing";
    EXPECT_EQ(UDisksEject::eject(connection(), "/media/u/MY").kind, Kind::unknown);
    EXPECT_EQ(calls(), "");
}

TEST_F(UDisksEjectTest, WithoutUDisksUmountAnswers) {
    EXPECT_EQ(UDisksEject::eject(connection(), cardPath).kind, Kind::unknown);
    // A folder that is no mount point: umount's complaint is the reason.
    testing::TempDir temp;
    LinuxVolumes volumes({}, connection());
    const std::optional<std::string> failure = volumes.eject(temp.path(), {});
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find(temp.path().string()), std::string::npos) << *failure;
}

}  // namespace
}  // namespace tarvik
