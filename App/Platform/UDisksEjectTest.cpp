#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "App/Platform/LinuxVolumes.hpp"
#include "App/Platform/UDisksEject.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/PrivateBus.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using Kind = UDisksEject::Outcome::Kind;

// The card's file system is unmounted, then its drive powered off; a refused
// unmount gives UDisks2's reason and no power-off; a mount UDisks2 does not
// know is left to umount.
TEST(UDisksEjectTest, UnmountsThenPowersOffOrSaysWhyNot) {
    const std::string cardPath = "/media/u/MY CARD";
    const std::string unmount = "/org/freedesktop/UDisks2/block_devices/sdb1 Unmount\n";
    const std::string busy = "Error unmounting /dev/sdb1: target is busy";
    struct Case {
        std::string unmountError, path;
        Kind kind;
        std::string reason, calls;
    };
    const std::string powerOff = "/org/freedesktop/UDisks2/drives/Card_Reader_0001 PowerOff\n";
    if (const std::string missing = testing::PrivateBus::missingPrograms(true); !missing.empty())
        GTEST_SKIP() << missing;
    for (const Case& c : std::vector<Case>{{"", cardPath, Kind::ejected, "", unmount + powerOff},
                                           {busy, cardPath, Kind::failed, busy, unmount},
                                           {"", "/media/u/MY", Kind::unknown, "", ""}}) {
        SCOPED_TRACE(c.path + c.unmountError);
        testing::PrivateBus bus;
        testing::TempDir temp;
        testing::writeFile(temp / "calls.log", "");
        const std::string parameters = "{\"mountPoint\": \"" + cardPath + "\", \"log\": \"" +
                                       (temp / "calls.log").string() + "\", \"unmountError\": \"" +
                                       c.unmountError + "\"}";
        const char* udisks = TARVIK_SOURCE_DIR "/App/Platform/testdata/udisks2_mock.py";
        ASSERT_TRUE(bus.available()) << "dbus-daemon did not start";
        ASSERT_TRUE(bus.startTemplate(udisks, parameters, "org.freedesktop.UDisks2"));
        const UDisksEject::Outcome outcome =
            UDisksEject::eject(bus.connect("udisks-test"), c.path, {});
        EXPECT_EQ(outcome.kind, c.kind);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(testing::readFile(temp / "calls.log"), c.calls);
    }
}

// A quit must not wait for a slow card: a stop returns at once, and the
// unmount is left to UDisks2.
TEST(UDisksEjectTest, AStopReturnsWhileTheUnmountIsStillUnderWay) {
    if (const std::string missing = testing::PrivateBus::missingPrograms(true); !missing.empty())
        GTEST_SKIP() << missing;
    UDisksEject::Outcome outcome;
    std::atomic<bool> returned = false;
    std::jthread ejecting;  // should the stop go unheard, joined once the bus is gone
    testing::PrivateBus bus;
    testing::TempDir temp;
    const std::filesystem::path calls = temp / "calls.log";
    testing::writeFile(calls, "");
    ASSERT_TRUE(bus.available()) << "dbus-daemon did not start";
    ASSERT_TRUE(bus.startTemplate(TARVIK_SOURCE_DIR "/App/Platform/testdata/udisks2_mock.py",
                                  "{\"mountPoint\": \"/media/u/CARD\", \"log\": \"" +
                                      calls.string() + "\", \"unmountDelay\": 120}",
                                  "org.freedesktop.UDisks2"));
    ejecting = std::jthread([&, connection = bus.connect("udisks-test")](std::stop_token stop) {
        outcome = UDisksEject::eject(connection, "/media/u/CARD", stop);
        returned = true;
    });
    ASSERT_TRUE(testing::waitUntil([&] { return !testing::readFile(calls).empty(); }));
    ejecting.request_stop();
    ASSERT_TRUE(testing::waitUntil([&] { return returned.load(); }, std::chrono::seconds(3)));
    EXPECT_EQ(outcome.kind, Kind::failed);
    EXPECT_EQ(outcome.reason, UDisksEject::stoppedReason);
}

TEST(UDisksEjectTest, WithoutUDisksUmountAnswers) {
    if (const std::string missing = testing::PrivateBus::missingPrograms(false); !missing.empty())
        GTEST_SKIP() << missing;
    testing::PrivateBus bus;
    ASSERT_TRUE(bus.available()) << "dbus-daemon did not start";
    EXPECT_EQ(UDisksEject::eject(bus.connect("udisks-test"), "/media/u/MY CARD", {}).kind,
              Kind::unknown);
    // A folder that is no mount point: umount's complaint is the reason.
    testing::TempDir temp;
    LinuxVolumes volumes({}, bus.connect("udisks-test"));
    const std::optional<std::string> failure = volumes.eject(temp.path(), {});
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find(temp.path().string()), std::string::npos) << *failure;
}

}  // namespace
}  // namespace tarvik
