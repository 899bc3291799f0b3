#include "Core/Platform/ChildProcess.hpp"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <utility>

#include "Core/Platform/Errors.hpp"

extern char** environ;

namespace tarvik::ChildProcess {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t chunkSize = 64 * 1024;

[[noreturn]] void throwSystemError(int errorNumber, const std::string& what) {
    throw std::system_error(errorNumber, std::generic_category(), what);
}

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    Descriptor(Descriptor&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            descriptor_ = std::exchange(other.descriptor_, -1);
        }
        return *this;
    }
    ~Descriptor() { reset(); }

    int get() const { return descriptor_; }
    explicit operator bool() const { return descriptor_ >= 0; }
    void reset() {
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = -1;
    }

private:
    int descriptor_ = -1;
};

struct Pipe {
    Descriptor readEnd;
    Descriptor writeEnd;
};

// Close-on-exec on both ends, so no other child started meanwhile inherits them
// (an inherited write end would keep our reader from ever seeing end of file).
Pipe makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throwSystemError(errno, "pipe2");
    return {Descriptor(ends[0]), Descriptor(ends[1])};
}

// Only our side is non-blocking; the child gets ordinary blocking descriptors.
void setNonBlocking(const Descriptor& descriptor) {
    int flags = ::fcntl(descriptor.get(), F_GETFL);
    if (flags < 0 || ::fcntl(descriptor.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        throwSystemError(errno, "fcntl");
    }
}

// A child that closes its input early must not take this process down with
// SIGPIPE; the failed write reports EPIPE instead. A handler someone else
// installed is left in place.
void ignoreBrokenPipe() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
            current.sa_handler == SIG_DFL) {
            ::signal(SIGPIPE, SIG_IGN);
        }
    });
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return WTERMSIG(status);
    return status;
}

// The started child. Only the thread running the call signals and reaps it,
// so a pid is never signalled after it was reaped (when it may name another
// process). The destructor kills and reaps a child that an error left behind.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {
        // A pidfd becomes readable when the child exits; without one (an old
        // kernel, a sandbox) the loop polls for the exit instead.
        exitNotice_ = Descriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (reaped_) return;
        ::kill(-pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }

    bool reaped() const { return reaped_; }
    int exitCode() const { return exitCode_; }
    const Descriptor& exitNotice() const { return exitNotice_; }

    bool tryReap() {
        if (reaped_) return true;
        int status = 0;
        pid_t result = ::waitpid(pid_, &status, WNOHANG);
        if (result == pid_) {
            reaped_ = true;
            exitCode_ = exitCodeOf(status);
            exitNotice_.reset();
        } else if (result < 0 && errno == ECHILD) {
            // Someone else reaped it (a waitpid(-1) elsewhere); its status is lost.
            reaped_ = true;
            exitCode_ = -1;
            exitNotice_.reset();
        }
        return reaped_;
    }

    // The whole process group: what the child started goes too. After the
    // child was reaped the group is signalled only while its output is still
    // open, that is while some member of it still lives, so the number can't
    // name another group yet.
    void signalGroup(int number, bool outputOpen) {
        if (!reaped_ || outputOpen) ::kill(-pid_, number);
    }

private:
    pid_t pid_;
    bool reaped_ = false;
    int exitCode_ = -1;
    Descriptor exitNotice_;
};

// Starts the child in a process group of its own, so that a stop reaches
// whatever it starts in turn (a wrapper script's encoder), and with a
// parent-death signal, so that it does not outlive this program. Between fork
// and exec only async-signal-safe calls are made; everything is prepared
// before. A failed exec reports its errno through a close-on-exec pipe.
pid_t spawn(const std::filesystem::path& program, const std::vector<std::string>& arguments,
            int input, int output, int error) {
    std::vector<char*> argv;
    std::string programText = program.string();
    argv.push_back(programText.data());
    std::vector<std::string> copies(arguments);
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    Pipe report = makePipe();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) throwSystemError(errno, programText);
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);  // the program died before prctl
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &defaults, nullptr);  // ignored here, default in the child
        sigset_t noneBlocked;
        sigemptyset(&noneBlocked);  // the calling thread's mask could block SIGTERM
        ::sigprocmask(SIG_SETMASK, &noneBlocked, nullptr);
        if (::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
            ::dup2(error, STDERR_FILENO) < 0) {
            const int failure = errno;
            [[maybe_unused]] ssize_t ignored =
                ::write(report.writeEnd.get(), &failure, sizeof failure);
            ::_exit(127);
        }
        // Descriptors other code opened without close-on-exec stay with us.
        ::syscall(SYS_close_range, STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execve(programText.c_str(), argv.data(), environ);
        const int failure = errno;
        [[maybe_unused]] ssize_t ignored = ::write(report.writeEnd.get(), &failure, sizeof failure);
        ::_exit(127);
    }
    report.writeEnd.reset();
    int failure = 0;
    ssize_t got = 0;
    do {
        got = ::read(report.readEnd.get(), &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        throwSystemError(failure, programText);
    }
    return pid;
}

// Reads what is there; closes the descriptor at end of file or on an error.
void drain(Descriptor& descriptor, Bytes& into) {
    std::array<std::uint8_t, chunkSize> buffer;
    ssize_t got = ::read(descriptor.get(), buffer.data(), buffer.size());
    if (got > 0) {
        into.insert(into.end(), buffer.begin(), buffer.begin() + got);
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        descriptor.reset();
    }
}

// Writes what the pipe takes; closes it when all is written or the child
// stopped reading (EPIPE), which the call does not count as a failure.
void feed(Descriptor& descriptor, const Bytes& input, std::size_t& offset) {
    if (offset < input.size()) {
        std::size_t length = std::min(chunkSize, input.size() - offset);
        ssize_t written = ::write(descriptor.get(), input.data() + offset, length);
        if (written > 0) {
            offset += static_cast<std::size_t>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            descriptor.reset();
            return;
        }
    }
    if (offset >= input.size()) descriptor.reset();
}

int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

}  // namespace

Result run(const std::filesystem::path& program, const std::vector<std::string>& arguments,
           const std::optional<Bytes>& input, std::stop_token stop) {
    if (stop.stop_requested()) throw Cancelled();
    ignoreBrokenPipe();

    // The stop callback only raises a flag and wakes the loop; the loop does
    // the signalling. It is in place before the child starts, so a stop that
    // arrives while the child is being started still reaches it.
    Descriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) throwSystemError(errno, "eventfd");
    std::atomic<bool> stopRequested{false};
    std::stop_callback onStop(stop, [&] {
        stopRequested = true;
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wake.get(), &one, sizeof one);
    });

    Pipe output = makePipe();
    Pipe error = makePipe();
    Pipe inputPipe;
    Descriptor nullDevice;
    if (input) {
        inputPipe = makePipe();
        setNonBlocking(inputPipe.writeEnd);
    } else {
        nullDevice = Descriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!nullDevice) throwSystemError(errno, "/dev/null");
    }
    setNonBlocking(output.readEnd);
    setNonBlocking(error.readEnd);

    Child child(spawn(program, arguments, input ? inputPipe.readEnd.get() : nullDevice.get(),
                      output.writeEnd.get(), error.writeEnd.get()));
    // Our copies of the child's ends must go, or end of file never comes.
    output.writeEnd.reset();
    error.writeEnd.reset();
    inputPipe.readEnd.reset();
    nullDevice.reset();

    Result result;
    Descriptor& toChild = inputPipe.writeEnd;
    std::size_t inputOffset = 0;
    if (toChild && input->empty()) toChild.reset();

    bool terminateSent = false;
    bool killSent = false;
    Clock::time_point killDeadline{};

    while (output.readEnd || error.readEnd || !child.reaped()) {
        const bool outputOpen = output.readEnd || error.readEnd;
        if (stopRequested && !terminateSent) {
            child.signalGroup(SIGTERM, outputOpen);
            terminateSent = true;
            killDeadline = Clock::now() + terminationGrace;
        }
        if (terminateSent && !killSent && Clock::now() >= killDeadline) {
            child.tryReap();
            child.signalGroup(SIGKILL, outputOpen);
            killSent = true;
        }

        std::array<pollfd, 5> watched{};
        std::size_t count = 0;
        auto watch = [&](const Descriptor& descriptor, short events) -> pollfd* {
            if (!descriptor) return nullptr;
            watched[count] = pollfd{descriptor.get(), events, 0};
            return &watched[count++];
        };
        pollfd* wakeWatch = watch(wake, POLLIN);
        pollfd* inputWatch = watch(toChild, POLLOUT);
        pollfd* outputWatch = watch(output.readEnd, POLLIN);
        pollfd* errorWatch = watch(error.readEnd, POLLIN);
        pollfd* exitWatch = child.reaped() ? nullptr : watch(child.exitNotice(), POLLIN);

        int timeout = -1;
        if (terminateSent && !killSent) timeout = millisecondsUntil(killDeadline);
        bool pollForExit =
            !child.reaped() && !child.exitNotice() && !output.readEnd && !error.readEnd;
        if (pollForExit) timeout = timeout < 0 ? 20 : std::min(timeout, 20);

        if (::poll(watched.data(), count, timeout) < 0) {
            if (errno == EINTR) continue;
            throwSystemError(errno, "poll");
        }

        if (wakeWatch && wakeWatch->revents) {
            std::uint64_t value = 0;
            [[maybe_unused]] ssize_t ignored = ::read(wake.get(), &value, sizeof value);
        }
        if (inputWatch && inputWatch->revents) feed(toChild, *input, inputOffset);
        if (outputWatch && outputWatch->revents) drain(output.readEnd, result.standardOutput);
        if (errorWatch && errorWatch->revents) drain(error.readEnd, result.standardError);
        if ((exitWatch && exitWatch->revents) || pollForExit) child.tryReap();
    }

    result.exitCode = child.exitCode();
    return result;
}

}  // namespace tarvik::ChildProcess
