#include "App/Platform/ReducedMotion.hpp"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>

namespace tarvik {

namespace {

const QString service = "org.freedesktop.portal.Desktop";
const QString path = "/org/freedesktop/portal/desktop";
const QString interface = "org.freedesktop.portal.Settings";
const QString group = "org.gnome.desktop.interface";
const QString key = "enable-animations";
constexpr int readTimeoutMs = 1000;

// The portal's Read wraps the value in one variant more than its signature
// says; newer portals don't. Unwrap whatever is there.
QVariant unwrapped(QVariant value) {
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

}  // namespace

ReducedMotion::ReducedMotion(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

bool ReducedMotion::requested() const {
    if (!bus_.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, "Read");
    call << group << key;
    const QDBusMessage reply = bus_.call(call, QDBus::Block, readTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    const QVariant value = unwrapped(reply.arguments().constFirst());
    return value.userType() == QMetaType::Bool && !value.toBool();
}

void ReducedMotion::watch(std::function<void()> changed) {
    watchers_.push_back(std::move(changed));
    if (subscribed_ || !bus_.isConnected()) return;
    subscribed_ = bus_.connect(service, path, interface, "SettingChanged", this,
                               SLOT(settingChanged(QDBusMessage)));
}

void ReducedMotion::settingChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || arguments[0].toString() != group || arguments[1].toString() != key)
        return;
    for (const auto& watcher : watchers_) watcher();
}

}  // namespace tarvik
