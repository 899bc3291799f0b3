#pragma once
// Where planning and export stand, and the small records the windows share
// with the model: a line of the run log, a mounted volume as the windows show
// it, and the cancel signal of a send. Values, except CancelFlag, which the
// send worker and the GUI thread share.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include "Core/Pipeline/ConversionEvent.hpp"

namespace tarvik {

struct RunState {
    enum class Case { finished, failed, idle, planning, reviewing, running };

    Case kind = Case::idle;
    ConversionEvent::Summary summary;  // meaningful for `finished` only
    std::string message;               // meaningful for `failed` only
    // Meaningful for `finished` only: the run wrote onto a listed card. Fixed
    // when the run ends, so that the summary keeps its words after an eject.
    bool toCard = false;

    static RunState idle() { return {}; }
    static RunState planning() { return {Case::planning, {}, {}, false}; }
    static RunState reviewing() { return {Case::reviewing, {}, {}, false}; }
    static RunState running() { return {Case::running, {}, {}, false}; }
    static RunState finished(ConversionEvent::Summary summary, bool toCard = false) {
        return {Case::finished, std::move(summary), {}, toCard};
    }
    static RunState failed(std::string message) {
        return {Case::failed, {}, std::move(message), false};
    }

    bool is(Case c) const { return kind == c; }
    // Planning, reviewing and running keep the steps locked.
    bool isBusy() const {
        return kind == Case::planning || kind == Case::reviewing || kind == Case::running;
    }

    bool operator==(const RunState& other) const;
};

struct LogLine {
    enum class Kind { info, converted, renamed, error, notice };

    std::string id;  // a new random UUID per line: its identity in lists
    Kind kind = Kind::info;
    std::string text;

    bool operator==(const LogLine&) const = default;
};

struct Volume {
    std::filesystem::path url;  // the mount point, without a trailing "/"
    std::string name;
    std::int64_t free = 0;  // bytes available; 0 when unknown
    bool removable = false;

    std::string id() const { return url.string(); }
    bool operator==(const Volume&) const = default;
};

// Raised by the GUI thread, read by the send worker before each file; never lowered.
class CancelFlag {
public:
    void raise() {
        std::lock_guard lock(mutex_);
        value_ = true;
    }
    bool isRaised() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

private:
    mutable std::mutex mutex_;  // guards value_
    bool value_ = false;
};

}  // namespace tarvik
