// Ejecting through the machine's own volume layer: a mount table of files
// and a stand-in UDisks2 on a private bus. Skipped without dbus-daemon or
// python3-dbusmock.
#include <gtest/gtest.h>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Platform/LinuxVolumes.hpp"
#include "App/Testing/PrivateBus.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::writeFile;

TEST(AppModelEjectTest, RefusedUnmountReachesTheUserAndKeepsTheDestination) {
    testing::PrivateBus bus;
    if (!bus.available()) GTEST_SKIP() << "no dbus-daemon for a private bus";
    testing::TempDir temp;
    const auto card = temp / "media" / "CARD";
    std::filesystem::create_directories(card);
    writeFile(temp / "mountinfo", "1 0 254:0 / / rw - ext4 /dev/vda rw\n"
                                  "2 1 8:17 / " + card.string() + " rw - vfat /dev/sdb1 rw\n");
    writeFile(temp / "sys" / "8:17" / "removable", "1\n");
    const std::string parameters = "{\"mountPoint\": \"" + card.string() + "\", \"log\": \"" +
                                   (temp / "calls.log").string() +
                                   "\", \"unmountError\": \"target is busy\"}";
    if (!bus.startTemplate(TARVIK_SOURCE_DIR "/App/Platform/testdata/udisks2_mock.py", parameters,
                           "org.freedesktop.UDisks2")) {
        GTEST_SKIP() << "python3-dbusmock is missing";
    }

    testing::ScopedXdg xdg;
    AppModel::Services services = AppModelTesting::services(xdg);
    services.volumes = std::make_shared<LinuxVolumes>(
        SystemVolumeFacts::Places{.mountInfo = temp / "mountinfo", .blockDevices = temp / "sys"},
        bus.connect("eject-test"));
    AppModel model(std::move(services));
    ASSERT_EQ(model.destPath(), card.string());

    model.ejectCard();
    ASSERT_TRUE(testing::waitUntil([&] { return model.ejectError().has_value(); }));
    EXPECT_EQ(*model.ejectError(), "取り出せません: CARD（target is busy）");
    EXPECT_EQ(model.destPath(), card.string());
    EXPECT_EQ(testing::readFile(temp / "calls.log"),
              "/org/freedesktop/UDisks2/block_devices/sdb1 Unmount\n");
}

}  // namespace
}  // namespace tarvik
