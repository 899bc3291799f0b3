#pragma once
// A D-Bus bus of the test's own: a dbus-daemon on a socket in a temporary
// folder, and stand-in services made by python3-dbusmock from a template.
// Nothing reaches the machine's real buses. Where dbus-daemon or dbusmock is
// missing, `start` and `startMock` say why, so the test can skip. The
// destructor stops every process it started. GUI thread.
#include <QDBusConnection>
#include <QProcess>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

class PrivateBus {
public:
    static std::unique_ptr<PrivateBus> start(std::string& whyNot);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // A connection to this bus, as the code under test takes it.
    QDBusConnection connection() const;
    const std::filesystem::path& folder() const { return temp_.path(); }

    // Runs the dbusmock template file with its parameters (a JSON object) and
    // waits until it owns `busName`; false with the reason otherwise.
    bool startMock(const std::filesystem::path& templateFile, const std::string& parameters,
                   const QString& busName, std::string& whyNot);

private:
    PrivateBus() = default;

    TempDir temp_;
    QProcess daemon_;
    std::vector<std::unique_ptr<QProcess>> mocks_;
    QString address_;
    QString connectionName_;
};

}  // namespace tarvik::testing
