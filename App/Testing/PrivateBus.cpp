#include "App/Testing/PrivateBus.hpp"

#include <unistd.h>

#include <QDBusConnectionInterface>

#include "App/Testing/AppTesting.hpp"
#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {
namespace {

constexpr const char* daemonProgram = "/usr/bin/dbus-daemon";

// A bus that only this test uses: anyone may own any name, and no service
// is started on demand.
std::string configuration(const std::filesystem::path& folder) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:dir=" + folder.string() + "</listen>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

}  // namespace

std::unique_ptr<PrivateBus> PrivateBus::start(std::string& whyNot) {
    if (::access(daemonProgram, X_OK) != 0) {
        whyNot = "dbus-daemon is not installed";
        return nullptr;
    }
    std::unique_ptr<PrivateBus> bus(new PrivateBus());
    const std::filesystem::path config = bus->temp_ / "bus.conf";
    writeFile(config, configuration(bus->temp_.path()));
    bus->daemon_.start(QString::fromLatin1(daemonProgram),
                       {QStringLiteral("--config-file=") + QString::fromStdString(config.string()),
                        QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!bus->daemon_.waitForStarted(5000) || !bus->daemon_.waitForReadyRead(5000)) {
        whyNot = "dbus-daemon did not start";
        return nullptr;
    }
    bus->address_ = QString::fromUtf8(bus->daemon_.readLine()).trimmed();
    bus->connectionName_ = QStringLiteral("tarvik-test-bus-") + QString::number(::getpid()) +
                           QStringLiteral("-") +
                           QString::number(reinterpret_cast<quintptr>(bus.get()));
    if (!QDBusConnection::connectToBus(bus->address_, bus->connectionName_).isConnected()) {
        whyNot = "the private bus does not accept connections";
        return nullptr;
    }
    return bus;
}

PrivateBus::~PrivateBus() {
    for (auto& mock : mocks_) stop(*mock);
    if (!connectionName_.isEmpty()) QDBusConnection::disconnectFromBus(connectionName_);
    stop(daemon_);
}

QDBusConnection PrivateBus::connection() const { return QDBusConnection(connectionName_); }

bool PrivateBus::startMock(const std::filesystem::path& templateFile, const std::string& parameters,
                           const QString& busName, std::string& whyNot) {
    if (runCommand({systemPython, "-c", "import dbusmock"}).exitCode != 0) {
        whyNot = "python3-dbusmock is not installed";
        return false;
    }
    auto mock = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    mock->setProcessEnvironment(environment);
    mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock->start(QString::fromLatin1(systemPython),
                {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                 QString::fromStdString(templateFile.string()), QStringLiteral("-p"),
                 QString::fromStdString(parameters)});
    QProcess& started = *mock;
    mocks_.push_back(std::move(mock));
    const QDBusConnection bus = connection();
    if (!waitUntil([&] {
            return started.state() == QProcess::NotRunning ||
                   bus.interface()->isServiceRegistered(busName).value();
        }) ||
        started.state() == QProcess::NotRunning) {
        whyNot = "the stand-in service did not appear on the bus";
        return false;
    }
    return true;
}

}  // namespace tarvik::testing
