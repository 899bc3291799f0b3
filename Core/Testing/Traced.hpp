// This test program run again as a child, in a role its environment names,
// under strace: to kill it at a chosen system call, or to have another
// program save a file at one (strace sends SIGUSR1 as the call is entered;
// the handler saveOnSignal installs makes the save in the child as soon as
// the call returns). Tests skip where strace is missing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::testing {

using Environment = std::vector<std::pair<std::string, std::string>>;

inline constexpr const char* stracePath = "/usr/bin/strace";

// Runs this program with `environment` added, under strace with `options`
// (such as "-e", "inject=unlink:signal=KILL:when=2"); its exit code (the
// child's, 128 + the signal when a signal ended it) and standard output.
struct TracedRun {
    int exitCode = -1;
    std::string output;
};
TracedRun runSelfTraced(const Environment& environment, const std::vector<std::string>& options);

// The lines strace writes (with -y: descriptors with their paths) for the
// calls `names` of a whole run in `environment`, in order.
std::vector<std::string> tracedCalls(const Environment& environment,
                                     const std::vector<std::string>& names,
                                     const std::filesystem::path& log);

// The calls a commit of an edit in place is found by in a traced run: the
// looks at a file and the renames.
extern const std::vector<std::string> lookAndRenameCalls;

// In `calls` (tracedCalls of lookAndRenameCalls and more): the first rename
// onto or from `file`, and the last look at it before that; nothing when
// it is never renamed.
struct FirstRename {
    std::size_t lastLook = 0, rename = 0;
};
std::optional<FirstRename> firstRenameOf(const std::vector<std::string>& calls,
                                         const std::filesystem::path& file);

// strace's "inject=" option doing `action` (such as "signal=KILL") at the
// call of `calls[at]`'s name that comes `later` calls of that name after it.
std::string injectAt(const std::vector<std::string>& calls, std::size_t at,
                     const std::string& action, int later = 0);

// For a child: when TARVIK_TEST_SAVE_FROM and TARVIK_TEST_SAVE_TO are set,
// SIGUSR1 puts the file FROM in the place of TO as another program saves:
// renamed over it, or, with TARVIK_TEST_SAVE_IN_PLACE set, written into it.
void saveOnSignal();
Environment savingOnSignal(const std::filesystem::path& from, const std::filesystem::path& to,
                           bool inPlace);

}  // namespace tarvik::testing
