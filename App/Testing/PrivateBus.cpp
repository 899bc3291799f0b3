#include "App/Testing/PrivateBus.hpp"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QProcessEnvironment>

#include "App/Testing/AppTesting.hpp"
#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {

namespace {

constexpr int startMs = 10000;

void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

}  // namespace

std::string PrivateBus::missingPrograms(bool withStandIns) {
    std::string missing = missingProgram({"dbus-daemon", systemPython});
    if (missing.empty() && withStandIns &&
        runCommand({systemPython, "-c", "import dbusmock"}).exitCode != 0) {
        missing = "python3-dbusmock is not installed";
    }
    return missing;
}

PrivateBus::PrivateBus() {
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!daemon_.waitForStarted(startMs)) return;
    // The daemon prints its address once it listens.
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(startMs)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : connections_) QDBusConnection::disconnectFromBus(name);
    for (auto& mock : mocks_) stop(*mock);
    stop(daemon_);
}

QDBusConnection PrivateBus::connect(const QString& name) {
    connections_.push_back(name);
    return QDBusConnection::connectToBus(address_, name);
}

bool PrivateBus::startMock(const QString& service, const QString& path, const QString& interface) {
    return startDbusmock({service, path, interface}, service);
}

bool PrivateBus::startTemplate(const std::filesystem::path& templateFile,
                               const std::string& parameters, const QString& service) {
    return startDbusmock({"--template", QString::fromStdString(templateFile.string()), "-p",
                          QString::fromStdString(parameters)},
                         service);
}

bool PrivateBus::startDbusmock(const QStringList& arguments, const QString& service) {
    if (!available()) return false;
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", address_);
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(systemPython, QStringList{"-m", "dbusmock", "--session"} + arguments);
    if (!process->waitForStarted(startMs)) return false;
    QProcess& started = *mocks_.emplace_back(std::move(process));
    QDBusConnection bus = connect("mock-watch");
    // A stand-in that fails (a broken template, say) ends at once.
    waitUntil(
        [&] {
            return started.state() == QProcess::NotRunning ||
                   bus.interface()->isServiceRegistered(service).value();
        },
        std::chrono::milliseconds(startMs));
    return bus.interface()->isServiceRegistered(service).value();
}

QDBusMessage PrivateBus::mock(const QString& service, const QString& path, const QString& method,
                              const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", method);
    call.setArguments(arguments);
    return connect("mock-control").call(call, QDBus::Block, startMs);
}

std::vector<QVariantList> PrivateBus::methodCalls(const QString& service, const QString& path,
                                                  const QString& method) {
    const QDBusMessage reply = mock(service, path, "GetMethodCalls", {method});
    std::vector<QVariantList> calls;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return calls;
    // a(tav): the time of each call and its arguments.
    const QDBusArgument list = reply.arguments().front().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        quint64 time = 0;
        QVariantList arguments;
        list.beginStructure();
        list >> time >> arguments;
        list.endStructure();
        calls.push_back(arguments);
    }
    list.endArray();
    return calls;
}

}  // namespace tarvik::testing
