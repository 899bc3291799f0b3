#pragma once
// A stand-in for the desktop signals that only notes what it was asked, in
// order, so that tests can check the end of a run without a desktop. GUI
// thread only, like the real ones.
#include <memory>
#include <string>
#include <vector>

#include "App/Platform/DesktopSignals.hpp"

namespace tarvik::testing {

class RecordingDesktopSignals final : public DesktopSignals {
public:
    // Each call as one line: "notify <title> | <body>", "sound complete",
    // "sound error", "attention", "inhibit <reason>", "release".
    std::vector<std::string> calls;
    int inhibitorsHeld = 0;

    void notify(const std::string& title, const std::string& body) override {
        calls.push_back("notify " + title + " | " + body);
    }
    void playSound(Sound sound) override {
        calls.push_back(sound == Sound::error ? "sound error" : "sound complete");
    }
    void requestAttention() override { calls.push_back("attention"); }
    std::unique_ptr<Inhibitor> inhibitSleep(const std::string& reason) override {
        calls.push_back("inhibit " + reason);
        return std::make_unique<Held>(*this);
    }

private:
    struct Held final : Inhibitor {
        explicit Held(RecordingDesktopSignals& recorder) : owner_(recorder) {
            ++owner_.inhibitorsHeld;
        }
        ~Held() override {
            --owner_.inhibitorsHeld;
            owner_.calls.push_back("release");
        }
        RecordingDesktopSignals& owner_;
    };
};

}  // namespace tarvik::testing
