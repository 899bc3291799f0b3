#include "App/Platform/FreedesktopSignals.hpp"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QTest>

#include "App/Testing/AppTesting.hpp"
#include "App/Testing/PrivateBus.hpp"

namespace tarvik {
namespace {

using testing::PrivateBus;
using testing::waitUntil;

const QString notifications = "org.freedesktop.Notifications";
const QString notificationsPath = "/org/freedesktop/Notifications";
const QString logind = "org.freedesktop.login1";
const QString logindPath = "/org/freedesktop/login1";

// A private bus with the named stand-ins of dbusmock's templates, or the
// reason the test must skip.
std::unique_ptr<PrivateBus> busWith(const std::vector<std::pair<QString, QString>>& templates,
                                    std::string& whyNot) {
    auto bus = std::make_unique<PrivateBus>();
    if (!bus->available()) {
        whyNot = "no dbus-daemon";
        return nullptr;
    }
    for (const auto& [templateName, service] : templates) {
        if (!bus->startTemplate(templateName.toStdString(), "{}", service)) {
            whyNot = "python3-dbusmock did not bring up " + service.toStdString();
            return nullptr;
        }
    }
    return bus;
}

// What logind holds now: (what, who, why, mode) of each inhibitor.
std::vector<QStringList> inhibitors(PrivateBus& bus) {
    const QDBusMessage reply = bus.connect("inhibitors").call(QDBusMessage::createMethodCall(
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

TEST(FreedesktopSignalsTest, NotificationReachesTheNotificationService) {
    std::string whyNot;
    auto bus = busWith({{"notification_daemon", notifications}}, whyNot);
    if (!bus) GTEST_SKIP() << whyNot;
    FreedesktopSignals desktop(bus->connect("signals"), bus->connect("signals"), {});

    desktop.notify("書き出しが終わりました", "3 曲を書き出しました");

    std::vector<QVariantList> calls;
    ASSERT_TRUE(waitUntil([&] {
        calls = bus->methodCalls(notifications, notificationsPath, "Notify");
        return !calls.empty();
    }));
    ASSERT_EQ(calls.size(), 1U);
    ASSERT_EQ(calls[0].size(), 8);
    EXPECT_EQ(calls[0][3].toString(), "書き出しが終わりました");
    EXPECT_EQ(calls[0][4].toString(), "3 曲を書き出しました");
}

TEST(FreedesktopSignalsTest, SleepIsInhibitedUntilTheInhibitorGoes) {
    std::string whyNot;
    auto bus = busWith({{"logind", logind}}, whyNot);
    if (!bus) GTEST_SKIP() << whyNot;
    FreedesktopSignals desktop(bus->connect("signals"), bus->connect("signals"), {});

    auto inhibitor = desktop.inhibitSleep("SD カードへの音楽変換");
    ASSERT_TRUE(waitUntil([&] { return inhibitors(*bus).size() == 1; }));
    EXPECT_EQ(inhibitors(*bus).front(),
              (QStringList{"sleep:idle", "Tarvik", "SD カードへの音楽変換", "block"}));

    inhibitor.reset();
    EXPECT_TRUE(waitUntil([&] { return inhibitors(*bus).empty(); }));
}

TEST(FreedesktopSignalsTest, AnInhibitorDroppedBeforeLogindAnswersHoldsNothing) {
    std::string whyNot;
    auto bus = busWith({{"logind", logind}}, whyNot);
    if (!bus) GTEST_SKIP() << whyNot;
    FreedesktopSignals desktop(bus->connect("signals"), bus->connect("signals"), {});

    desktop.inhibitSleep("SD カードへの音楽変換").reset();
    // logind still takes the call; its descriptor is closed unused.
    ASSERT_TRUE(waitUntil([&] {
        return !bus->methodCalls(logind, logindPath, "Inhibit").empty();
    }));
    EXPECT_TRUE(waitUntil([&] { return inhibitors(*bus).empty(); }));
}

TEST(FreedesktopSignalsTest, WithoutServicesEverySignalDoesNothingAndNeverFails) {
    std::string whyNot;
    auto bus = busWith({}, whyNot);
    if (!bus) GTEST_SKIP() << whyNot;
    int attention = 0;
    // A bus without the services, and no bus at all.
    FreedesktopSignals empty(bus->connect("signals"), bus->connect("signals"), [&] { ++attention; });
    FreedesktopSignals none(QDBusConnection("tarvik-no-bus"), QDBusConnection("tarvik-no-bus"), {});
    for (DesktopSignals* desktop : {static_cast<DesktopSignals*>(&empty),
                                    static_cast<DesktopSignals*>(&none)}) {
        desktop->notify("中止しました", "0 曲を書き出しました");
        desktop->playSound(DesktopSignals::Sound::complete);
        desktop->playSound(DesktopSignals::Sound::error);
        desktop->requestAttention();
        EXPECT_NE(desktop->inhibitSleep("SD カードへの音楽変換"), nullptr);
    }
    EXPECT_EQ(attention, 1);
    QTest::qWait(200);  // the refusals of the bus arrive and are dropped
}

}  // namespace
}  // namespace tarvik
