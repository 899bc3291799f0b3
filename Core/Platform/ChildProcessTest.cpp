#include <gmock/gmock.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "Core/Platform/ChildProcess.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;
using testing::TempDir;
using testing::writeScript;

const auto asBytes = [](std::string_view text) { return Bytes(text.begin(), text.end()); };

std::string repeated(std::string_view pattern, std::size_t length) {
    std::string text;
    while (text.size() < length) text += pattern;
    text.resize(length);
    return text;
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// Script text that writes `pid` to the file named by the first argument in one step.
std::string announce(const std::string& pid) {
    return "echo " + pid + R"( > "$1.part"; mv "$1.part" "$1"; )";
}

// The process id the script announced, once the file is there.
pid_t announced(const std::filesystem::path& path) {
    for (int i = 0; i < 1000 && !std::filesystem::exists(path); ++i)
        std::this_thread::sleep_for(10ms);
    return std::filesystem::exists(path) ? std::stoi(testing::readFile(path)) : -1;
}

// Dead once it is gone or a zombie waiting for whoever reaps orphans.
bool diesWithinASecond(pid_t process) {
    for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(10ms)) {
        std::ifstream file("/proc/" + std::to_string(process) + "/stat");
        const std::string stat((std::istreambuf_iterator<char>(file)), {});
        if (stat.empty() || stat.substr(stat.rfind(')') + 2, 1) == "Z") return true;
    }
    return false;
}

// Every run gets the odd arguments; the first script writes them back. Input
// is fed whole or is the null device (the echo names which), a child that
// stops reading early still returns, and both streams come back whole.
TEST(ChildProcess, ArgumentsInputOutputAndStatusPassUnchanged) {
    TempDir temp;
    const std::vector<std::string> arguments = {"日本語の 名前.flac", "",  "*", "$HOME", "a\nb",
                                                "; rm -rf /",         "-x"};
    std::string written;
    for (const auto& argument : arguments) written += argument + '\0';
    const std::string echo = "cat; readlink /proc/self/fd/0 | cut -c1-5 >&2";
    const std::string big = repeated("input\x01\xff", 8 * 1024 * 1024 + 3);
    // Script, input, exit code, output and error output.
    using Run = std::tuple<std::string, std::optional<Bytes>, int, std::string, std::string>;
    const std::vector<Run> cases = {
        {R"(for a in "$@"; do printf '%s\0' "$a"; done)", std::nullopt, 0, written, ""},
        {"yes 0123456789abcdef | head -c 8388608 & yes fedcba9876543210 | head -c 8388608 >&2; "
         "wait",
         std::nullopt, 0, repeated("0123456789abcdef\n", 8388608),
         repeated("fedcba9876543210\n", 8388608)},
        {echo, std::nullopt, 0, "", "/dev/\n"},
        {echo, Bytes{}, 0, "", "pipe:\n"},
        {echo, asBytes(big), 0, big, "pipe:\n"},
        {"exit 3", asBytes(big), 3, "", ""},
        {"head -c 5; echo; echo read", asBytes(big), 0, "input\nread\n", ""},
        {"exec 0<&-; echo closed", asBytes(big), 0, "closed\n", ""},
        {"kill -TERM $$", std::nullopt, 15, "", ""},  // a signal: its number
        // SIGPIPE is the default again in the child.
        {"kill -PIPE $$", std::nullopt, 13, "", ""},
    };
    for (const auto& [body, input, exitCode, output, error] : cases) {
        auto result = ChildProcess::run(writeScript(temp / "child", body), arguments, input, {});
        EXPECT_EQ(result.exitCode, exitCode) << body;
        EXPECT_TRUE(asText(result.standardOutput) == output) << body;
        EXPECT_TRUE(asText(result.standardError) == error) << body;
    }
}

// A stop ends the child and what it started, and kills one that ignores it
// once the grace is over; the call returns the child's status.
TEST(ChildProcess, StopEndsTheChildAndWhatItStarted) {
    TempDir temp;
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"echo partial; " + announce("$$") + "exec sleep 60", 15, "partial\n"},
        // A wrapper in place of ffmpeg: the program it started would otherwise
        // hold the output open to its end.
        {"sleep 30 & " + announce("$!") + "wait", 15, ""},
        {"trap '' TERM; " + announce("$$") + "while :; do sleep 0.1 >/dev/null 2>&1; done", 9, ""},
    };
    int n = 0;
    for (const auto& [body, exitCode, output] : cases) {
        const auto ready = temp / ("ready" + std::to_string(++n));
        auto program = writeScript(temp / ("child" + std::to_string(n)), body);
        std::stop_source stop;
        ChildProcess::Result result;
        std::jthread runner([&] {
            result = ChildProcess::run(program, {ready.string()}, std::nullopt, stop.get_token());
        });
        const pid_t mustDie = announced(ready);
        ASSERT_GT(mustDie, 0) << body;
        const auto stoppedAt = steady_clock::now();
        stop.request_stop();
        runner.join();
        const auto took = steady_clock::now() - stoppedAt;
        EXPECT_EQ(result.exitCode, exitCode) << body;
        EXPECT_EQ(asText(result.standardOutput), output) << body;
        EXPECT_TRUE(diesWithinASecond(mustDie)) << body;
        const bool killed = exitCode == 9;
        EXPECT_GE(took, killed ? ChildProcess::terminationGrace - 100ms : 0ms) << body;
        EXPECT_LT(took, killed ? ChildProcess::terminationGrace + 5s : 1s) << body;
    }
}

// A program that is killed has no chance to stop its children: they must go
// with it instead of encoding on.
TEST(ChildProcess, ChildDiesWithTheProgram) {
    TempDir temp;
    auto program = writeScript(temp / "encoder", announce("$$") + "exec sleep 30");
    const pid_t standIn = ::fork();
    ASSERT_GE(standIn, 0);
    if (standIn == 0) {
        // The program that is killed: it runs the child and waits for it.
        try {
            ChildProcess::run(program, {(temp / "child").string()}, std::nullopt, {});
        } catch (...) {
        }
        ::_exit(0);
    }
    const pid_t child = announced(temp / "child");
    ::kill(standIn, SIGKILL);
    ::waitpid(standIn, nullptr, 0);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(diesWithinASecond(child));
}

// A stop may land before the call (nothing starts then), while the child is
// being started, or once it runs; in every case the call ends soon instead of
// waiting out the child.
TEST(ChildProcess, StopBeforeOrWhileTheChildStartsStillStopsIt) {
    TempDir temp;
    auto program = writeScript(temp / "long", R"(touch "$1"; exec sleep 60)");
    const std::vector<std::string> started = {(temp / "started").string()};
    std::stop_source early;
    early.request_stop();
    EXPECT_THROW(ChildProcess::run(program, started, std::nullopt, early.get_token()), Cancelled);
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(std::filesystem::exists(started[0]));
    for (int round = 0; round < 40; ++round) {
        std::stop_source stop;
        std::jthread stopper([&, round] {
            std::this_thread::sleep_for(std::chrono::microseconds(round * 50));
            stop.request_stop();
        });
        const auto startedAt = steady_clock::now();
        try {
            auto result = ChildProcess::run(program, {}, std::nullopt, stop.get_token());
            EXPECT_EQ(result.exitCode, 15) << "round " << round;
        } catch (const Cancelled&) {
        }
        EXPECT_LT(steady_clock::now() - startedAt, 10s) << "round " << round;
    }
}

// Runs at once, and programs that cannot start (which throw the system's
// error), leave no descriptors and no children behind.
TEST(ChildProcess, ManyRunsAtOnceAndFailedStartsLeaveNothingBehind) {
    TempDir temp;
    auto program = writeScript(temp / "echo", "cat; echo \"$1\" >&2");
    testing::writeFile(temp / "plain", "echo not executable\n");
    std::filesystem::create_directory(temp / "folder");
    const std::size_t before = openDescriptors();
    for (const auto& [name, errorNumber] :
         {std::pair{"missing", ENOENT}, {"plain", EACCES}, {"folder", EACCES}}) {
        EXPECT_THAT(testing::thrown<std::system_error>([&] {
                        ChildProcess::run(temp / name, {}, Bytes{1, 2, 3}, {});
                    }),
                    ::testing::HasSubstr(std::generic_category().message(errorNumber)));
    }
    constexpr int runs = 50;
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < runs; ++i) {
            threads.emplace_back([&, n = std::to_string(i)] {
                EXPECT_TRUE(
                    ChildProcess::run(program, {n}, asBytes(repeated(n, 100000)), {}) ==
                    (ChildProcess::Result{0, asBytes(repeated(n, 100000)), asBytes(n + "\n")}))
                    << n;
            });
        }
    }
    EXPECT_EQ(openDescriptors(), before);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace tarvik
