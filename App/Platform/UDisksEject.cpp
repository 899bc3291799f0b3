#include "App/Platform/UDisksEject.hpp"

#include <unistd.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QVariantMap>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <vector>

#include "Core/Platform/ChildProcess.hpp"

namespace tarvik::UDisksEject {
namespace {

const QString service = QStringLiteral("org.freedesktop.UDisks2");
const QString filesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString blockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString driveInterface = QStringLiteral("org.freedesktop.UDisks2.Drive");
// Unmounting first writes out what the card still owes; a slow card takes a while.
constexpr int unmountTimeoutMs = 5 * 60 * 1000;
// The bus's own default for an answer.
constexpr int defaultTimeoutMs = 25 * 1000;
// How soon a stop is noticed while the bus has not answered.
constexpr auto stopSlice = std::chrono::milliseconds(20);

// Sends `message` and waits for its answer while not stopped. The bus
// connection answers on a thread of its own, so the pending call finishes
// without an event loop here. A stopped wait leaves the call to the service:
// an unmount may still end there, and the card is then out as asked.
std::optional<QDBusMessage> callUnlessStopped(const QDBusConnection& bus,
                                              const QDBusMessage& message, int timeoutMs,
                                              const std::stop_token& stop) {
    const QDBusPendingCall pending = bus.asyncCall(message, timeoutMs);
    std::mutex mutex;  // guards nothing: the sliced wait only needs one
    std::condition_variable_any slices;
    std::unique_lock lock(mutex);
    while (!pending.isFinished()) {
        slices.wait_for(lock, stop, stopSlice, [] { return false; });
        if (stop.stop_requested()) return std::nullopt;
    }
    return pending.reply();
}

using Interfaces = std::map<QString, QVariantMap>;
using Objects = std::map<QString, Interfaces>;  // by object path

std::optional<Objects> managedObjects(const QDBusConnection& bus, const std::stop_token& stop) {
    const std::optional<QDBusMessage> answer = callUnlessStopped(
        bus,
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/UDisks2"),
                                       QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                       QStringLiteral("GetManagedObjects")),
        defaultTimeoutMs, stop);
    if (!answer) return std::nullopt;
    const QDBusMessage& reply = *answer;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
        reply.signature() != QLatin1String("a{oa{sa{sv}}}")) {
        return std::nullopt;
    }
    const QDBusArgument argument = reply.arguments().front().value<QDBusArgument>();
    Objects objects;
    argument.beginMap();
    while (!argument.atEnd()) {
        argument.beginMapEntry();
        QDBusObjectPath path;
        argument >> path;
        Interfaces& interfaces = objects[path.path()];
        argument.beginMap();
        while (!argument.atEnd()) {
            QString name;
            QVariantMap properties;
            argument.beginMapEntry();
            argument >> name >> properties;
            argument.endMapEntry();
            interfaces[name] = properties;
        }
        argument.endMap();
        argument.endMapEntry();
    }
    argument.endMap();
    return objects;
}

// A property of type "aay": file names as bytes, each ending in a NUL.
std::vector<QByteArray> byteStrings(const QVariant& value) {
    std::vector<QByteArray> strings;
    if (!value.canConvert<QDBusArgument>()) return strings;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QByteArray bytes;
        argument >> bytes;
        while (bytes.endsWith('\0')) bytes.chop(1);
        strings.push_back(bytes);
    }
    argument.endArray();
    return strings;
}

const QVariantMap* find(const Objects& objects, const QString& path, const QString& interface) {
    const auto object = objects.find(path);
    if (object == objects.end()) return nullptr;
    const auto found = object->second.find(interface);
    return found == object->second.end() ? nullptr : &found->second;
}

std::optional<QDBusMessage> callWithoutOptions(const QDBusConnection& bus, const QString& path,
                                               const QString& interface, const QString& method,
                                               int timeoutMs, const std::stop_token& stop) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call << QVariantMap();  // "a{sv}": no options
    return callUnlessStopped(bus, call, timeoutMs, stop);
}

}  // namespace

Outcome eject(const QDBusConnection& bus, const std::filesystem::path& mountPoint,
              std::stop_token stop) {
    const std::optional<Objects> objects = managedObjects(bus, stop);
    if (stop.stop_requested()) return {Outcome::Kind::failed, std::string(stoppedReason)};
    if (!objects) return {};
    const QByteArray wanted(mountPoint.c_str(), static_cast<qsizetype>(mountPoint.native().size()));
    for (const auto& [path, interfaces] : *objects) {
        const auto filesystem = interfaces.find(filesystemInterface);
        if (filesystem == interfaces.end()) continue;
        const std::vector<QByteArray> points =
            byteStrings(filesystem->second.value(QStringLiteral("MountPoints")));
        if (std::find(points.begin(), points.end(), wanted) == points.end()) continue;

        const std::optional<QDBusMessage> unmounted = callWithoutOptions(
            bus, path, filesystemInterface, QStringLiteral("Unmount"), unmountTimeoutMs, stop);
        if (!unmounted) return {Outcome::Kind::failed, std::string(stoppedReason)};
        if (unmounted->type() != QDBusMessage::ReplyMessage) {
            return {Outcome::Kind::failed, unmounted->errorMessage().toStdString()};
        }
        // Once unmounted the card is safe to pull: a drive that can't be
        // powered off (another of its file systems still mounted) is no failure.
        const QVariantMap* block = find(*objects, path, blockInterface);
        const QString drive =
            block ? block->value(QStringLiteral("Drive")).value<QDBusObjectPath>().path()
                  : QString();
        const QVariantMap* driveProperties = find(*objects, drive, driveInterface);
        if (driveProperties && driveProperties->value(QStringLiteral("CanPowerOff")).toBool()) {
            callWithoutOptions(bus, drive, driveInterface, QStringLiteral("PowerOff"),
                               defaultTimeoutMs, stop);
        }
        return {Outcome::Kind::ejected, {}};
    }
    return {};
}

std::optional<std::string> unmountWithoutUDisks(const std::filesystem::path& mountPoint,
                                                std::stop_token stop) {
    std::filesystem::path program = "/usr/bin/umount";
    if (::access(program.c_str(), X_OK) != 0) program = "/bin/umount";
    try {
        const ChildProcess::Result result =
            ChildProcess::run(program, {mountPoint.string()}, std::nullopt, stop);
        if (result.exitCode == 0) return std::nullopt;
        std::string complaint(result.standardError.begin(), result.standardError.end());
        while (!complaint.empty() && std::isspace(static_cast<unsigned char>(complaint.back()))) {
            complaint.pop_back();
        }
        return complaint.empty() ? "umount: " + std::to_string(result.exitCode) : complaint;
    } catch (const std::exception& error) {
        return std::string(error.what());
    }
}

}  // namespace tarvik::UDisksEject
