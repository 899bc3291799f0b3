// A copy while a sweep goes over its folder, as a send and an export, or
// two exports, write to one card at once: the copy runs in a child of this
// program under strace, held up at the step where a sweep could take its
// temporary file for a leftover, or at the flush of a slow card after a stop.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Traced.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

constexpr const char* fromVariable = "TARVIK_TEST_COPY_FROM";
constexpr const char* toVariable = "TARVIK_TEST_COPY_TO";
constexpr const char* stoppedVariable = "TARVIK_TEST_COPY_STOPPED";
// The child's exit codes: copied, stopped, failed.
constexpr int copied = 0, cancelled = 3, failed = 4;

// The child: $TARVIK_TEST_COPY_FROM copied to $TARVIK_TEST_COPY_TO in its
// folder, stopped before it starts when $TARVIK_TEST_COPY_STOPPED is set,
// before the tests run.
const bool copying = [] {
    const char* from = ::getenv(fromVariable);
    const char* to = ::getenv(toVariable);
    if (from == nullptr || to == nullptr) return false;
    std::stop_source stop;
    if (::getenv(stoppedVariable) != nullptr) stop.request_stop();
    try {
        PosixFS::copy(from, *PosixFS::rootAt(fs::path(to).parent_path()), to, stop.get_token());
    } catch (const Cancelled&) {
        ::_exit(cancelled);
    } catch (const std::exception& error) {
        std::printf("%s\n", error.what());
        std::fflush(stdout);
        ::_exit(failed);
    }
    ::_exit(copied);
}();

// A sweep as the card's cleanings and the export's make them, over and over
// until it has removed two files or is stopped: it may come between a copy's
// creation of its temporary file and the lock at any time, and the copy then
// tries another name, but it does not come every time.
std::jthread sweeping(const fs::path& folder) {
    return std::jthread([folder](std::stop_token stop) {
        for (int removed = 0; removed < 2 && !stop.stop_requested();) {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(folder, error)) {
                if (PosixFS::removeLeftover(entry.path())) ++removed;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

// Held up for a second at the step where a sweep could find the temporary
// free: between its creation and its lock, between the end of the writing and
// the rename. The sweep may remove only a file the copy has let go of; the
// copy then writes under another name. After a stop, a card that takes
// longer than the grace over the data drops the copy: its temporary file is
// gone before the slow flush and close are waited for (a quit's deadline may
// end the program at the close), the earlier file at the target as it was.
TEST(PosixFS, ASweepBesideACopyTakesNothingItWritesAndAStopDropsASlowFlush) {
    if (!fs::exists(testing::stracePath)) GTEST_SKIP() << "strace is missing";
    struct Case {
        const char* name;
        std::string heldUpAt;
        bool stopped;
        bool swept;
        int exitCode;
        bool killedAtTheClose = false;
    };
    const std::string second = "delay_enter=1000000";
    const std::vector<Case> cases = {
        {"between the creation and the lock", "inject=flock:" + second + ":when=1", false, true,
         copied},
        {"between the writing and the rename", "inject=rename,renameat,renameat2:" + second, false,
         true, copied},
        {"at the flush of a slow card after a stop",
         "inject=sync_file_range,fdatasync,fsync:" + second, true, false, cancelled},
        // Nothing sweeps after the kill here, as nothing may before a later send.
        {"killed at the close of a dropped copy",
         "inject=sync_file_range,fdatasync,fsync:" + second, true, false, 128 + SIGKILL, true},
    };
    testing::TempDir temp;
    std::string song(3 << 20, '\0');  // three reads and flushes
    for (std::size_t at = 0; at < song.size(); ++at) song[at] = static_cast<char>(at * 7919 % 251);
    testing::writeFile(temp / "song.mp3", song);
    const fs::path card = temp / "card";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(card);
        testing::writeFile(card / "01.mp3", "earlier");
        testing::Environment environment = {{fromVariable, (temp / "song.mp3").string()},
                                            {toVariable, (card / "01.mp3").string()}};
        if (c.stopped) environment.emplace_back(stoppedVariable, "1");
        std::vector<std::string> options = {"-o", "/dev/null", "-e", c.heldUpAt};
        if (c.killedAtTheClose) {
            const fs::path log = temp / "calls";
            testing::runSelfTraced(
                environment, {"-y", "-o", log.string(), "-e", "trace=close", "-e", c.heldUpAt});
            std::vector<std::string> calls;
            std::ifstream lines(log);
            for (std::string line; std::getline(lines, line);) calls.push_back(line);
            const auto close =
                std::find_if(calls.begin(), calls.end(), [&](const std::string& call) {
                    return call.find((card / ".tarvik-").string()) != std::string::npos;
                });
            ASSERT_NE(close, calls.end()) << "the temporary file is never closed";
            options.insert(
                options.end(),
                {"-e", testing::injectAt(calls, static_cast<std::size_t>(close - calls.begin()),
                                         "signal=KILL")});
            fs::remove_all(card);
            testing::writeFile(card / "01.mp3", "earlier");
        }
        std::optional<std::jthread> sweep;
        if (c.swept) sweep = sweeping(card);
        const testing::TracedRun run = testing::runSelfTraced(environment, options);
        sweep.reset();
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        Files found = testing::filesBelow(card);
        for (auto& [name, bytes] : found) {
            if (bytes == song) bytes = "the song";
        }
        EXPECT_EQ(found, (Files{{"01.mp3", c.exitCode == copied ? "the song" : "earlier"}}));
    }
}

}  // namespace
}  // namespace tarvik
