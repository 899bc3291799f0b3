#pragma once
// A D-Bus session bus of its own for one test, so that tests of desktop
// services never reach the developer's session: a dbus-daemon started with the
// object and stopped with it, and stand-in services made with python3-dbusmock
// (Debian's /usr/bin/python3). A test skips only where `missingPrograms`
// names a missing program; a bus or stand-in that is there but does not
// start fails the test. Test thread only.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QVariantList>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarvik::testing {

class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // What this machine lacks for a private bus, and for stand-ins on it when
    // `withStandIns`, as "dbus-daemon is not installed"; empty when nothing.
    static std::string missingPrograms(bool withStandIns);

    // Whether the bus started.
    bool available() const { return !address_.isEmpty(); }
    // A new connection to the bus under `name`, closed with the bus.
    QDBusConnection connect(const QString& name);

    // A stand-in owning `service`, with one object at `path` implementing
    // `interface` (methods are added through `mock`); false when it did not
    // appear on the bus in time.
    bool startMock(const QString& service, const QString& path, const QString& interface);
    // A stand-in made by the dbusmock template file `templateFile` with its
    // parameters (a JSON object), owning `service`; false when it did not appear.
    bool startTemplate(const std::filesystem::path& templateFile, const std::string& parameters,
                       const QString& service);
    // Calls the stand-in's control method org.freedesktop.DBus.Mock.<method>,
    // e.g. AddMethod(interface, name, in, out, python code) or
    // EmitSignal(interface, name, signature, arguments).
    QDBusMessage mock(const QString& service, const QString& path, const QString& method,
                      const QVariantList& arguments);
    // The arguments of every call of `method` that the stand-in at `path` of
    // `service` has received, oldest first.
    std::vector<QVariantList> methodCalls(const QString& service, const QString& path,
                                          const QString& method);

private:
    bool startDbusmock(const QStringList& arguments, const QString& service);

    QProcess daemon_;
    std::vector<std::unique_ptr<QProcess>> mocks_;
    std::vector<QString> connections_;
    QString address_;
};

}  // namespace tarvik::testing
