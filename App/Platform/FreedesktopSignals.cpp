#include "App/Platform/FreedesktopSignals.hpp"

#include <canberra.h>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QStringList>
#include <QVariantMap>

namespace tarvik {

namespace {

const char* const programName = "Tarvik";

// Holds logind's inhibitor descriptor from the moment the answer comes until
// it goes; closing the descriptor ends the inhibition. When it goes before
// the answer, the watcher goes with it and the answer's descriptor is closed
// unused.
class LogindInhibitor final : public DesktopSignals::Inhibitor {
public:
    explicit LogindInhibitor(const QDBusPendingCall& call)
        : watcher_(std::make_unique<QDBusPendingCallWatcher>(call)) {
        QObject::connect(watcher_.get(), &QDBusPendingCallWatcher::finished,
                         [this](QDBusPendingCallWatcher* watcher) {
                             const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
                             if (reply.isValid()) descriptor_ = reply.value();
                         });
    }

private:
    QDBusUnixFileDescriptor descriptor_;
    std::unique_ptr<QDBusPendingCallWatcher> watcher_;
};

class NoInhibitor final : public DesktopSignals::Inhibitor {};

}  // namespace

FreedesktopSignals::FreedesktopSignals(QDBusConnection session, QDBusConnection system,
                                       std::function<void()> requestAttention)
    : session_(std::move(session)),
      system_(std::move(system)),
      requestAttention_(std::move(requestAttention)) {}

FreedesktopSignals::~FreedesktopSignals() {
    if (sounds_ != nullptr) ca_context_destroy(sounds_);
}

std::shared_ptr<FreedesktopSignals> FreedesktopSignals::standard(
    std::function<void()> requestAttention) {
    return std::make_shared<FreedesktopSignals>(
        QDBusConnection::sessionBus(), QDBusConnection::systemBus(), std::move(requestAttention));
}

void FreedesktopSignals::notify(const std::string& title, const std::string& body) {
    if (!session_.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    call << QString(programName) << 0U << QString() << QString::fromStdString(title)
         << QString::fromStdString(body) << QStringList() << QVariantMap() << -1;
    // No answer is awaited: an absent service only means no notification.
    session_.asyncCall(call);
}

void FreedesktopSignals::playSound(Sound sound) {
    if (soundsFailed_) return;
    if (sounds_ == nullptr) {
        if (ca_context_create(&sounds_) != CA_SUCCESS) {
            sounds_ = nullptr;
            soundsFailed_ = true;
            return;
        }
        ca_context_change_props(sounds_, CA_PROP_APPLICATION_NAME, programName, nullptr);
    }
    const char* name = sound == Sound::error ? "dialog-error" : "complete";
    // Plays on libcanberra's own thread; without a sound server it fails at
    // once, and silence is all that follows.
    ca_context_play(sounds_, 0, CA_PROP_EVENT_ID, name, nullptr);
}

void FreedesktopSignals::requestAttention() {
    if (requestAttention_) requestAttention_();
}

std::unique_ptr<DesktopSignals::Inhibitor> FreedesktopSignals::inhibitSleep(
    const std::string& reason) {
    if (!system_.isConnected()) return std::make_unique<NoInhibitor>();
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit");
    call << QString("sleep:idle") << QString(programName) << QString::fromStdString(reason)
         << QString("block");
    return std::make_unique<LogindInhibitor>(system_.asyncCall(call));
}

}  // namespace tarvik
