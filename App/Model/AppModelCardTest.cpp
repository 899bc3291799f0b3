// The model with the machine's own volume layer and a real exFAT card image,
// mounted and unmounted while the model runs; the clean on mounting is the
// volume tests' with fixture cards. Skipped where the machine allows no loop
// devices or FUSE.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QDBusConnection>

#include "App/Model/AppModelTesting.hpp"
#include "App/Platform/LinuxVolumes.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

using testing::waitUntil;
using testing::writeFile;

TEST(AppModelCardTest, RealCardIsListedOnMountAndDroppedOnUnmount) {
    std::string whyNot;
    std::unique_ptr<testing::CardImage> card = testing::CardImage::make(16 << 20, whyNot);
    if (!card) GTEST_SKIP() << "no real card image: " << whyNot;
    ASSERT_TRUE(card->unmount());

    // A loop device is no removable disk; the card reader's /sys says it is.
    testing::TempDir temp;
    struct stat device {};
    ASSERT_EQ(::stat(card->device().c_str(), &device), 0);
    writeFile(temp / "sys" /
                  (std::to_string(::major(device.st_rdev)) + ":" +
                   std::to_string(::minor(device.st_rdev))) /
                  "removable",
              "1\n");

    testing::ScopedXdg xdg;
    AppModel::Services services = AppModelTesting::services(xdg);
    services.volumes =
        std::make_shared<LinuxVolumes>(SystemVolumeFacts::Places{.blockDevices = temp / "sys"},
                                       QDBusConnection(QStringLiteral("none")));
    AppModel model(std::move(services));
    auto listed = [&] {
        return std::any_of(model.volumes().begin(), model.volumes().end(),
                           [&](const Volume& v) { return v.url == card->root(); });
    };
    ASSERT_FALSE(listed());

    ASSERT_TRUE(card->mount());
    ASSERT_TRUE(waitUntil(listed, std::chrono::seconds(1)));
    EXPECT_EQ(model.destPath(), card->root().string());  // the only removable volume
    EXPECT_TRUE(model.isCardVolume(card->root()));       // so a clean may touch it
    ASSERT_TRUE(card->unmount());
    ASSERT_TRUE(waitUntil([&] { return !listed(); }, std::chrono::seconds(1)));
    // The empty mount folder stays behind; it is no destination.
    EXPECT_EQ(model.destPath(), "");
}

}  // namespace
}  // namespace tarvik
