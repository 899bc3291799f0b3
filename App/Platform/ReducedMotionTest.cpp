#include <gtest/gtest.h>

#include <QDBusVariant>

#include "App/Platform/ReducedMotion.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/PrivateBus.hpp"

namespace tarvik {
namespace {

const QString portal = "org.freedesktop.portal.Desktop";
const QString portalPath = "/org/freedesktop/portal/desktop";
const QString settings = "org.freedesktop.portal.Settings";

// Python for the stand-in's Read: the desktop's value, wrapped `levels` deep.
QString readReturning(const QString& value, int levels) {
    return QString(
               "ret = dbus.Boolean(%1, variant_level=%2) "
               "if tuple(args) == ('org.gnome.desktop.interface', 'enable-animations') "
               "else dbus.String('other', variant_level=2)")
        .arg(value)
        .arg(levels);
}

// Without a portal, or without a bus, nothing is requested.
TEST(ReducedMotionTest, FollowsTheDesktopsAnimationSettingThroughThePortal) {
    ReducedMotion unconnected(QDBusConnection("not-connected"));
    EXPECT_FALSE(unconnected.requested());
    unconnected.watch([] {});
    if (const std::string missing = testing::PrivateBus::missingPrograms(true); !missing.empty())
        GTEST_SKIP() << missing;
    testing::PrivateBus bus;
    ASSERT_TRUE(bus.available()) << "dbus-daemon did not start";
    EXPECT_FALSE(ReducedMotion(bus.connect("no-portal")).requested());
    ASSERT_TRUE(bus.startMock(portal, portalPath, settings));
    ReducedMotion motion(bus.connect("motion"));
    int changes = 0;
    motion.watch([&] { ++changes; });

    // Older portals wrap the value twice.
    struct Case {
        QString animations;
        int levels;
        bool requested;
    };
    for (const Case& c :
         std::vector<Case>{{"True", 2, false}, {"False", 2, true}, {"False", 1, true}}) {
        SCOPED_TRACE(c.animations.toStdString() + std::to_string(c.levels));
        const QDBusMessage added =
            bus.mock(portal, portalPath, "AddMethod",
                     {settings, "Read", "ss", "v", readReturning(c.animations, c.levels)});
        ASSERT_NE(added.type(), QDBusMessage::ErrorMessage) << added.errorMessage().toStdString();
        EXPECT_EQ(motion.requested(), c.requested);
    }

    // Only a change of this one setting is passed on.
    for (const QString& key : {QString("gtk-theme"), QString("enable-animations")}) {
        const QVariantList arguments = {"org.gnome.desktop.interface", key, QVariant(false)};
        const QDBusMessage emitted =
            bus.mock(portal, portalPath, "EmitSignal",
                     {settings, "SettingChanged", "ssv", QVariant::fromValue(arguments)});
        ASSERT_NE(emitted.type(), QDBusMessage::ErrorMessage)
            << emitted.errorMessage().toStdString();
    }
    EXPECT_TRUE(testing::waitUntil([&] { return changes == 1; }));
    testing::waitUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace tarvik
