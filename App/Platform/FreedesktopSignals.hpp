#pragma once
// The desktop signals of a Linux session: notifications through the session
// bus's org.freedesktop.Notifications, the sound theme's "complete" and
// "dialog-error" through libcanberra, the window's attention request through
// a callback from the widget layer, and a logind idle and sleep inhibitor on
// the system bus. Every call is asynchronous and best effort: a missing bus,
// service or sound server makes it do nothing. The buses are handed in, so
// tests can use a private one. GUI thread only.
#include <QDBusConnection>
#include <functional>
#include <memory>
#include <string>

#include "App/Platform/DesktopSignals.hpp"

struct ca_context;

namespace tarvik {

class FreedesktopSignals final : public DesktopSignals {
public:
    // `requestAttention` marks the main window for the user; empty: nothing.
    FreedesktopSignals(QDBusConnection session, QDBusConnection system,
                       std::function<void()> requestAttention);
    ~FreedesktopSignals() override;
    FreedesktopSignals(const FreedesktopSignals&) = delete;
    FreedesktopSignals& operator=(const FreedesktopSignals&) = delete;

    // The user's session and the system bus.
    static std::shared_ptr<FreedesktopSignals> standard(std::function<void()> requestAttention);

    void notify(const std::string& title, const std::string& body) override;
    void playSound(Sound sound) override;
    void requestAttention() override;
    std::unique_ptr<Inhibitor> inhibitSleep(const std::string& reason) override;

private:
    QDBusConnection session_;
    QDBusConnection system_;
    std::function<void()> requestAttention_;
    ca_context* sounds_ = nullptr;  // opened with the first sound
    bool soundsFailed_ = false;     // libcanberra has no context for us: stay silent
};

}  // namespace tarvik
