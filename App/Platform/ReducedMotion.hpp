#pragma once
// Whether the desktop asks programs to keep motion down: the desktop's
// "enable-animations" setting, read through the desktop portal's Settings
// interface on the session bus, and the portal's change signal. Without a
// session bus, a portal or the setting the answer is "not asked". GUI thread
// only; a read waits at most a second for the portal.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

namespace tarvik {

class ReducedMotion : public QObject {
    Q_OBJECT

public:
    explicit ReducedMotion(QDBusConnection bus = QDBusConnection::sessionBus(),
                           QObject* parent = nullptr);

    // True when the desktop has animations switched off.
    bool requested() const;
    // `changed` runs on the GUI thread whenever the portal reports a new value.
    void watch(std::function<void()> changed);

private slots:
    void settingChanged(const QDBusMessage& message);

private:
    QDBusConnection bus_;
    bool subscribed_ = false;
    std::vector<std::function<void()>> watchers_;
};

}  // namespace tarvik
