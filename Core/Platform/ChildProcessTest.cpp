#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Core/Platform/ChildProcess.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;
using testing::writeScript;

std::string asText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Bytes asBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string repeated(std::string_view pattern, std::size_t length) {
    std::string text;
    text.reserve(length);
    while (text.size() < length) text += pattern;
    text.resize(length);
    return text;
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator()));
}

bool waitForFile(const std::filesystem::path& path) {
    for (int i = 0; i < 1000 && !std::filesystem::exists(path); ++i)
        std::this_thread::sleep_for(10ms);
    return std::filesystem::exists(path);
}

// Dead once it is gone or a zombie waiting for whoever reaps orphans.
bool diesWithinASecond(pid_t process) {
    auto dead = [process] {
        std::ifstream file("/proc/" + std::to_string(process) + "/stat");
        const std::string stat((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
        const std::size_t state = stat.rfind(')');
        return stat.empty() || (state != std::string::npos && stat.substr(state + 2, 1) == "Z");
    };
    for (int i = 0; i < 100; ++i) {
        if (dead()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return dead();
}

TEST(ChildProcess, ArgumentsArriveUnchanged) {
    TempDir temp;
    auto program = writeScript(temp / "args", R"(for a in "$@"; do printf '%s\0' "$a"; done)");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"日本語の 名前.flac", "アーティスト"},
        {"", "*", "$HOME", "a\nb", "; rm -rf /", "-x"},
    };
    for (const auto& arguments : cases) {
        std::string expected;
        for (const auto& argument : arguments) expected += argument + '\0';
        auto result = ChildProcess::run(program, arguments, std::nullopt, {});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(asText(result.standardOutput), expected) << arguments.size() << " arguments";
    }
}

TEST(ChildProcess, LargeOutputOnBothStreamsAtOnceComesBackWhole) {
    TempDir temp;
    auto program = writeScript(temp / "loud", R"(
yes 0123456789abcdef | head -c 8388608 &
yes fedcba9876543210 | head -c 8388608 >&2
wait)");
    auto result = ChildProcess::run(program, {}, std::nullopt, {});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(asText(result.standardOutput) == repeated("0123456789abcdef\n", 8388608));
    EXPECT_TRUE(asText(result.standardError) == repeated("fedcba9876543210\n", 8388608));
}

TEST(ChildProcess, StandardInputIsFedWholeOrIsTheNullDevice) {
    TempDir temp;
    // Echoes its input and names what its standard input is.
    auto program = writeScript(temp / "echo", "cat; readlink /proc/self/fd/0 >&2");
    struct Case {
        std::optional<Bytes> input;
        std::string inputKind;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "/dev/null\n"},
        {Bytes{}, "pipe:"},
        {asBytes("one line\n"), "pipe:"},
        {asBytes(repeated("input\x01\xff", 8 * 1024 * 1024 + 3)), "pipe:"},
    };
    for (const auto& [input, inputKind] : cases) {
        auto result = ChildProcess::run(program, {}, input, {});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(result.standardOutput == input.value_or(Bytes{}));
        EXPECT_TRUE(asText(result.standardError).starts_with(inputKind))
            << asText(result.standardError);
    }
}

TEST(ChildProcess, ChildThatStopsReadingItsInputStillReturns) {
    TempDir temp;
    const Bytes input = asBytes(repeated("x", 8 * 1024 * 1024));
    struct Case {
        std::string body;
        int exitCode;
        std::string output;
    };
    const std::vector<Case> cases = {
        {"exit 3", 3, ""},
        {"head -c 10; echo; echo read", 0, "xxxxxxxxxx\nread\n"},
        {"exec 0<&-; echo closed", 0, "closed\n"},
    };
    for (const auto& [body, exitCode, output] : cases) {
        auto program = writeScript(temp / "reader", body);
        auto result = ChildProcess::run(program, {}, input, {});
        EXPECT_EQ(result.exitCode, exitCode) << body;
        EXPECT_EQ(asText(result.standardOutput), output) << body;
    }
}

TEST(ChildProcess, ExitCodeIsTheStatusOrTheSignalNumber) {
    TempDir temp;
    const std::vector<std::pair<std::string, int>> cases = {
        {"exit 0", 0},        {"exit 7", 7},         {"exit 255", 255}, {"kill -TERM $$", 15},
        {"kill -KILL $$", 9}, {"kill -PIPE $$", 13},  // SIGPIPE is the default again in the child
    };
    for (const auto& [body, exitCode] : cases) {
        auto program = writeScript(temp / "status", body);
        EXPECT_EQ(ChildProcess::run(program, {}, std::nullopt, {}).exitCode, exitCode) << body;
    }
}

TEST(ChildProcess, ProgramThatCannotStartThrowsTheSystemError) {
    TempDir temp;
    testing::writeFile(temp / "plain", "echo not executable\n");
    std::filesystem::create_directory(temp / "folder");
    const std::vector<std::pair<std::filesystem::path, int>> cases = {
        {temp / "missing", ENOENT},
        {temp / "plain", EACCES},
        {temp / "folder", EACCES},
    };
    const std::size_t before = openDescriptors();
    for (const auto& [program, errorNumber] : cases) {
        try {
            ChildProcess::run(program, {}, Bytes{1, 2, 3}, {});
            ADD_FAILURE() << program << " started";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code().value(), errorNumber) << program;
        }
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(ChildProcess, StopBeforeTheCallThrowsCancelledAndStartsNothing) {
    TempDir temp;
    auto program = writeScript(temp / "touch", "touch \"$1\"");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(
        ChildProcess::run(program, {(temp / "started").string()}, std::nullopt, stop.get_token()),
        Cancelled);
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(std::filesystem::exists(temp / "started"));
}

TEST(ChildProcess, StopTerminatesARunningChildAndReturnsItsStatus) {
    TempDir temp;
    auto program = writeScript(temp / "waits", "echo partial; touch \"$1\"; exec sleep 60");
    std::stop_source stop;
    ChildProcess::Result result;
    std::jthread runner([&] {
        result =
            ChildProcess::run(program, {(temp / "ready").string()}, std::nullopt, stop.get_token());
    });
    ASSERT_TRUE(waitForFile(temp / "ready"));
    stop.request_stop();
    runner.join();
    EXPECT_EQ(result.exitCode, 15);
    EXPECT_EQ(asText(result.standardOutput), "partial\n");
}

// A wrapper script in place of ffmpeg: the stop reaches the program it
// started too, which otherwise would hold the output open to its end.
TEST(ChildProcess, StopReachesWhatTheChildStarted) {
    TempDir temp;
    auto program = writeScript(temp / "wrapper", R"(sleep 30 &
echo $! > "$1.part" && mv "$1.part" "$1"
wait)");
    std::stop_source stop;
    std::jthread runner([&] {
        ChildProcess::run(program, {(temp / "encoder").string()}, std::nullopt, stop.get_token());
    });
    ASSERT_TRUE(waitForFile(temp / "encoder"));
    const pid_t encoder = std::stoi(testing::readFile(temp / "encoder"));
    const auto stoppedAt = std::chrono::steady_clock::now();
    stop.request_stop();
    runner.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 1s);
    EXPECT_TRUE(diesWithinASecond(encoder));
}

// A program that is killed has no chance to stop its children: they must go
// with it instead of encoding on.
TEST(ChildProcess, ChildDiesWithTheProgram) {
    TempDir temp;
    auto program = writeScript(temp / "encoder", R"(echo $$ > "$1.part" && mv "$1.part" "$1"
exec sleep 30)");
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
    ASSERT_TRUE(waitForFile(temp / "child"));
    const pid_t child = std::stoi(testing::readFile(temp / "child"));
    ::kill(standIn, SIGKILL);
    int status = 0;
    ::waitpid(standIn, &status, 0);
    EXPECT_TRUE(diesWithinASecond(child));
}

TEST(ChildProcess, ChildIgnoringTerminateIsKilledAfterTheGrace) {
    TempDir temp;
    auto program = writeScript(temp / "stubborn", R"(trap '' TERM
touch "$1"
while :; do sleep 0.1 >/dev/null 2>&1; done)");
    std::stop_source stop;
    ChildProcess::Result result;
    std::jthread runner([&] {
        result =
            ChildProcess::run(program, {(temp / "ready").string()}, std::nullopt, stop.get_token());
    });
    ASSERT_TRUE(waitForFile(temp / "ready"));
    const auto stoppedAt = std::chrono::steady_clock::now();
    stop.request_stop();
    runner.join();
    const auto took = std::chrono::steady_clock::now() - stoppedAt;
    EXPECT_EQ(result.exitCode, 9);
    EXPECT_GE(took, ChildProcess::terminationGrace - 100ms);
    EXPECT_LT(took, ChildProcess::terminationGrace + 5s);
}

// A stop may land before the call, while the child is being started, or once
// it runs; in every case the call ends soon instead of waiting out the child.
TEST(ChildProcess, StopArrivingWhileTheChildStartsStillStopsIt) {
    TempDir temp;
    auto program = writeScript(temp / "long", "exec sleep 60");
    for (int round = 0; round < 40; ++round) {
        std::stop_source stop;
        std::jthread stopper([&, round] {
            std::this_thread::sleep_for(std::chrono::microseconds(round * 50));
            stop.request_stop();
        });
        const auto startedAt = std::chrono::steady_clock::now();
        try {
            auto result = ChildProcess::run(program, {}, std::nullopt, stop.get_token());
            EXPECT_EQ(result.exitCode, 15) << "round " << round;
        } catch (const Cancelled&) {
        }
        EXPECT_LT(std::chrono::steady_clock::now() - startedAt, 10s) << "round " << round;
    }
}

TEST(ChildProcess, ManyRunsAtOnceLeaveNoDescriptorsAndNoChildren) {
    TempDir temp;
    auto program = writeScript(temp / "echo", "cat; echo \"$1\" >&2");
    const std::size_t before = openDescriptors();
    constexpr int runs = 50;
    std::vector<ChildProcess::Result> results(runs);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < runs; ++i) {
            threads.emplace_back([&, i] {
                results[i] = ChildProcess::run(program, {std::to_string(i)},
                                               asBytes(repeated(std::to_string(i), 100000)), {});
            });
        }
    }
    for (int i = 0; i < runs; ++i) {
        EXPECT_EQ(results[i].exitCode, 0);
        EXPECT_EQ(asText(results[i].standardOutput), repeated(std::to_string(i), 100000));
        EXPECT_EQ(asText(results[i].standardError), std::to_string(i) + "\n");
    }
    EXPECT_EQ(openDescriptors(), before);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace tarvik
