#pragma once
// How the end of a run reaches the user outside the window: a desktop
// notification, a theme sound, the window's attention request, and a sleep
// inhibitor held while a run converts. Every signal is best effort: without a
// session bus, a notification service or a sound server it does nothing and
// never fails. GUI thread only.
#include <memory>
#include <string>

namespace tarvik {

class DesktopSignals {
public:
    enum class Sound { complete, error };

    // Released when the object goes away.
    class Inhibitor {
    public:
        virtual ~Inhibitor() = default;
    };

    virtual ~DesktopSignals() = default;

    virtual void notify(const std::string& title, const std::string& body) = 0;
    virtual void playSound(Sound sound) = 0;
    virtual void requestAttention() = 0;
    virtual std::unique_ptr<Inhibitor> inhibitSleep(const std::string& reason) = 0;
};

}  // namespace tarvik
