#include "App/Testing/PrivateBus.hpp"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QProcessEnvironment>
#include <QUuid>

#include "App/Testing/AppTesting.hpp"
#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {

namespace {

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
    std::unique_ptr<PrivateBus> bus(new PrivateBus());
    bus->daemon_ = std::make_unique<QProcess>();
    bus->daemon_->setProcessChannelMode(QProcess::SeparateChannels);
    bus->daemon_->start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!bus->daemon_->waitForStarted(5000)) {
        whyNot = "dbus-daemon cannot be started";
        return nullptr;
    }
    QByteArray line;
    while (!line.contains('\n') && bus->daemon_->waitForReadyRead(5000)) {
        line += bus->daemon_->readAllStandardOutput();
    }
    bus->address_ = line.trimmed().toStdString();
    if (bus->address_.empty()) {
        whyNot = "dbus-daemon printed no address";
        return nullptr;
    }
    bus->connectionName_ = "tarvik-test-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!bus->connection().isConnected()) {
        whyNot = "cannot connect to the private bus";
        return nullptr;
    }
    return bus;
}

PrivateBus::~PrivateBus() {
    if (!connectionName_.isEmpty()) QDBusConnection::disconnectFromBus(connectionName_);
    for (auto& mock : mocks_) stop(*mock);
    if (daemon_) stop(*daemon_);
}

QDBusConnection PrivateBus::connection() const {
    return QDBusConnection::connectToBus(QString::fromStdString(address_), connectionName_);
}

bool PrivateBus::addMock(const std::string& templateName, const std::string& busName,
                         std::string& whyNot) {
    auto mock = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(address_));
    mock->setProcessEnvironment(environment);
    mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock->start(systemPython, {"-m", "dbusmock", "--session", "--template",
                               QString::fromStdString(templateName)});
    if (!mock->waitForStarted(5000)) {
        whyNot = "python3 cannot be started";
        return false;
    }
    QProcess* process = mock.get();
    mocks_.push_back(std::move(mock));
    const QString name = QString::fromStdString(busName);
    const bool there = waitUntil([&] {
        return process->state() == QProcess::NotRunning ||
               connection().interface()->isServiceRegistered(name).value();
    });
    if (!there || process->state() == QProcess::NotRunning) {
        whyNot = "python3-dbusmock did not bring up " + busName;
        return false;
    }
    return true;
}

QDBusMessage PrivateBus::call(const QString& service, const QString& path,
                              const QString& interface, const QString& method,
                              const QVariantList& arguments) const {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return connection().call(message);
}

std::vector<QVariantList> PrivateBus::methodCalls(const QString& service, const QString& path,
                                                  const QString& method) const {
    const QDBusMessage reply =
        call(service, path, "org.freedesktop.DBus.Mock", "GetMethodCalls", {method});
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
