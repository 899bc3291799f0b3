#include "App/Platform/QuitSignals.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>

namespace tarvik {

namespace {

constexpr std::array<int, 3> quitting = {SIGTERM, SIGINT, SIGHUP};

// Written from the handler, which may do nothing but async-signal-safe calls.
volatile std::sig_atomic_t writeEnd = -1;

extern "C" void onQuitSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t ignored = ::write(writeEnd, &byte, 1);
    errno = saved;
}

void restoreDefaults() {
    for (int number : quitting) std::signal(number, SIG_DFL);
}

}  // namespace

std::unique_ptr<QuitSignals> QuitSignals::install(std::function<void()> quit) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    writeEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    // Once handled, the next one of its kind ends the program: a quit that
    // hangs can still be ended from outside without signal 9.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int number : quitting) {
        if (::sigaction(number, &action, nullptr) != 0) {
            restoreDefaults();
            ::close(ends[0]);
            ::close(ends[1]);
            writeEnd = -1;
            return nullptr;
        }
    }
    return std::unique_ptr<QuitSignals>(new QuitSignals(ends[0], std::move(quit)));
}

QuitSignals::QuitSignals(int readEnd, std::function<void()> quit)
    : readEnd_(readEnd),
      notifier_(new QSocketNotifier(readEnd, QSocketNotifier::Read, this)),
      quit_(std::move(quit)) {
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        bool any = false;
        while (::read(readEnd_, bytes, sizeof bytes) > 0) any = true;
        if (any) quit_();
    });
}

QuitSignals::~QuitSignals() {
    restoreDefaults();
    delete notifier_;
    ::close(readEnd_);
    ::close(writeEnd);
    writeEnd = -1;
}

}  // namespace tarvik
