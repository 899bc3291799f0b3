#include "App/Platform/QuitSignals.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace tarvik {

namespace {

constexpr std::array<int, 3> quitting = {SIGTERM, SIGINT, SIGHUP};

// The pipe the handler writes to, made once and kept open for the life of
// the process: a handler may run on any thread while the object goes, and must
// never write to a closed descriptor, or to one reused for a file meanwhile.
// Atomics that are always lock-free are safe in a handler; sig_atomic_t is
// only safe on the thread the signal interrupted.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> writeEnd = -1;
std::atomic<int> readEnd = -1;

extern "C" void onQuitSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t ignored = ::write(writeEnd.load(), &byte, 1);
    errno = saved;
}

// Signals that came while no object listened are not this object's to act on.
void drain(int end) {
    char bytes[16];
    while (::read(end, bytes, sizeof bytes) > 0) {
    }
}

void restoreDefaults() {
    for (int number : quitting) std::signal(number, SIG_DFL);
}

}  // namespace

std::unique_ptr<QuitSignals> QuitSignals::install(std::function<void()> quit) {
    if (readEnd.load() < 0) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
        readEnd = ends[0];
        writeEnd = ends[1];
    }
    drain(readEnd.load());
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    // Once handled, the next one of its kind ends the program: a quit that
    // hangs can still be ended from outside without signal 9.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int number : quitting) {
        if (::sigaction(number, &action, nullptr) != 0) {
            restoreDefaults();
            return nullptr;
        }
    }
    return std::unique_ptr<QuitSignals>(new QuitSignals(readEnd.load(), std::move(quit)));
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
}

}  // namespace tarvik
