#pragma once
// For tests of work that must never hold the GUI thread: the longest the
// event loop went without turning while the object lives, by a timer that
// asks to run every 5 ms. A call into a file system that does not answer
// shows as a gap as long as it is held. Header only; GUI thread.
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace tarvik::testing {

class LoopGaps {
public:
    LoopGaps() {
        clock_.start();
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, clock_.restart()); });
        timer_.start();
    }
    std::chrono::milliseconds longest() const {
        // A gap still going on counts too.
        return std::chrono::milliseconds(std::max(longest_, clock_.elapsed()));
    }

private:
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 longest_ = 0;
};

}  // namespace tarvik::testing
