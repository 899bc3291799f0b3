#pragma once
// A private D-Bus bus for tests of code that talks to desktop services: its
// own dbus-daemon, and stand-in services made by python3-dbusmock from its
// templates ("notification_daemon", "logind", ...), all put on this one bus
// whatever bus the real service lives on. Where dbus-daemon or dbusmock is
// missing, starting says why and the test skips. The destructor ends the
// stand-ins and the daemon. GUI thread only.
#include <memory>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QVariantList>

namespace tarvik::testing {

class PrivateBus {
public:
    // A running bus, or nothing with the reason in `whyNot`.
    static std::unique_ptr<PrivateBus> start(std::string& whyNot);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Starts dbusmock's `templateName` and waits until `busName` is on the bus;
    // false with the reason in `whyNot` when it does not come.
    bool addMock(const std::string& templateName, const std::string& busName, std::string& whyNot);

    QDBusConnection connection() const;
    const std::string& address() const { return address_; }

    // The arguments of every call of `method` that the stand-in at `path` of
    // `service` has received, oldest first.
    std::vector<QVariantList> methodCalls(const QString& service, const QString& path,
                                          const QString& method) const;
    // Calls a method and returns the answer (an error message when it failed).
    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& arguments = {}) const;

private:
    PrivateBus() = default;

    std::unique_ptr<QProcess> daemon_;
    std::vector<std::unique_ptr<QProcess>> mocks_;
    std::string address_;
    QString connectionName_;
};

}  // namespace tarvik::testing
