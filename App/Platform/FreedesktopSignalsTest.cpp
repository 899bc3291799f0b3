#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QTest>

#include "App/Platform/FreedesktopSignals.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/PrivateBus.hpp"

namespace tarvik {
namespace {

using testing::PrivateBus;
using testing::waitUntil;

const QString logind = "org.freedesktop.login1";
const QString logindPath = "/org/freedesktop/login1";

// What logind holds now: (what, who, why, mode) of each inhibitor.
std::vector<QStringList> inhibitors(PrivateBus& bus) {
    const QDBusMessage reply =
        bus.connect("inhibitors")
            .call(QDBusMessage::createMethodCall(
                logind, logindPath, "org.freedesktop.login1.Manager", "ListInhibitors"));
    std::vector<QStringList> held;
    if (reply.type() != QDBusMessage::ReplyMessage) return held;
    const QDBusArgument list = reply.arguments().front().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint user = 0, process = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> user >> process;
        list.endStructure();
        held.push_back({what, who, why, mode});
    }
    list.endArray();
    return held;
}

TEST(FreedesktopSignalsTest, SleepIsInhibitedUntilTheInhibitorGoesEvenBeforeLogindAnswers) {
    if (const std::string missing = PrivateBus::missingPrograms(true); !missing.empty())
        GTEST_SKIP() << missing;
    PrivateBus bus;
    ASSERT_TRUE(bus.available()) << "dbus-daemon did not start";
    ASSERT_TRUE(bus.startTemplate("logind", "{}", logind));
    FreedesktopSignals desktop(bus.connect("signals"), bus.connect("signals"), {});

    auto inhibitor = desktop.inhibitSleep("SD カードへの音楽変換");
    ASSERT_TRUE(waitUntil([&] { return inhibitors(bus).size() == 1; }));
    EXPECT_EQ(inhibitors(bus).front(),
              (QStringList{"sleep:idle", "Tarvik", "SD カードへの音楽変換", "block"}));
    inhibitor.reset();
    EXPECT_TRUE(waitUntil([&] { return inhibitors(bus).empty(); }));

    // Dropped at once: logind still takes the call; its descriptor is closed unused.
    desktop.inhibitSleep("SD カードへの音楽変換").reset();
    ASSERT_TRUE(
        waitUntil([&] { return bus.methodCalls(logind, logindPath, "Inhibit").size() == 2; }));
    EXPECT_TRUE(waitUntil([&] { return inhibitors(bus).empty(); }));
    QTest::qWait(100);
    EXPECT_TRUE(inhibitors(bus).empty());
}

// A notification reaches the session's notification service with the
// program's name, its title and its body; with no service, or no bus at all,
// every signal still returns and nothing fails.
TEST(FreedesktopSignalsTest, ANotificationCarriesItsTextsAndNoServiceIsNoFailure) {
    if (const std::string missing = PrivateBus::missingPrograms(true); !missing.empty())
        GTEST_SKIP() << missing;
    PrivateBus bus;
    ASSERT_TRUE(bus.available()) << "dbus-daemon did not start";
    const QString service = "org.freedesktop.Notifications";
    const QString path = "/org/freedesktop/Notifications";
    ASSERT_TRUE(bus.startMock(service, path, service));
    bus.mock(service, path, "AddMethod", {service, "Notify", "susssasa{sv}i", "u", "ret = 1"});
    FreedesktopSignals shown(bus.connect("signals"), bus.connect("signals"), {});
    shown.notify("中止しました", "0 曲を書き出しました");
    ASSERT_TRUE(waitUntil([&] { return bus.methodCalls(service, path, "Notify").size() == 1; }));
    const QVariantList call = bus.methodCalls(service, path, "Notify").front();
    ASSERT_GE(call.size(), 5);
    EXPECT_EQ(call[0].toString(), "Tarvik");
    EXPECT_EQ(call[3].toString(), "中止しました");
    EXPECT_EQ(call[4].toString(), "0 曲を書き出しました");

    int attention = 0;
    PrivateBus bare;
    ASSERT_TRUE(bare.available()) << "dbus-daemon did not start";
    FreedesktopSignals empty(bare.connect("bare"), bare.connect("bare"), [&] { ++attention; });
    FreedesktopSignals none(QDBusConnection("tarvik-no-bus"), QDBusConnection("tarvik-no-bus"), {});
    for (DesktopSignals* desktop : std::initializer_list<DesktopSignals*>{&empty, &none}) {
        desktop->notify("中止しました", "0 曲を書き出しました");
        desktop->playSound(DesktopSignals::Sound::error);
        desktop->requestAttention();
        EXPECT_NE(desktop->inhibitSleep("SD カードへの音楽変換"), nullptr);
    }
    EXPECT_EQ(attention, 1);
    QTest::qWait(200);  // the refusals of the bus arrive and are dropped
}

}  // namespace
}  // namespace tarvik
