#include "Core/Testing/Traced.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>

#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {
namespace {

// Set before the handler is installed, read only by it.
std::array<char, 4096> saveFrom{}, saveTo{};
bool saveInPlace = false;

// Only calls that are safe in a signal handler.
void save(int) {
    if (!saveInPlace) {
        ::rename(saveFrom.data(), saveTo.data());
        return;
    }
    const int from = ::open(saveFrom.data(), O_RDONLY | O_CLOEXEC);
    const int to = ::open(saveTo.data(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    std::array<char, 4096> buffer{};
    for (ssize_t got;
         from >= 0 && to >= 0 && (got = ::read(from, buffer.data(), buffer.size())) > 0;) {
        if (::write(to, buffer.data(), static_cast<std::size_t>(got)) != got) break;
    }
    ::close(from);
    ::close(to);
}

}  // namespace

TracedRun runSelfTraced(const Environment& environment, const std::vector<std::string>& options) {
    for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<std::string> words = {stracePath, "-qq"};
    words.insert(words.end(), options.begin(), options.end());
    words.push_back(std::filesystem::read_symlink("/proc/self/exe").string());
    const ShellResult result = runCommand(words);
    for (const auto& [name, value] : environment) ::unsetenv(name.c_str());
    return {result.exitCode, result.output};
}

std::vector<std::string> tracedCalls(const Environment& environment,
                                     const std::vector<std::string>& names,
                                     const std::filesystem::path& log) {
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ",") + name;
    runSelfTraced(environment, {"-y", "-o", log.string(), "-e", "trace=" + joined});
    std::vector<std::string> calls;
    std::ifstream lines(log);
    for (std::string line; std::getline(lines, line);) calls.push_back(line);
    return calls;
}

const std::vector<std::string> lookAndRenameCalls = {"newfstatat", "statx",    "lstat",    "stat",
                                                     "rename",     "renameat", "renameat2"};

namespace {

bool isOneOf(const std::string& call, std::initializer_list<std::string_view> names) {
    return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
        return call.starts_with(name) && call.size() > name.size() && call[name.size()] == '(';
    });
}

}  // namespace

std::optional<FirstRename> firstRenameOf(const std::vector<std::string>& calls,
                                         const std::filesystem::path& file) {
    const std::string quoted = "\"" + file.string() + "\"";
    FirstRename found;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].find(quoted) == std::string::npos) continue;
        if (isOneOf(calls[i], {"rename", "renameat", "renameat2"})) {
            found.rename = i;
            return found;
        }
        if (isOneOf(calls[i], {"newfstatat", "statx", "lstat", "stat"})) found.lastLook = i;
    }
    return std::nullopt;
}

std::string injectAt(const std::vector<std::string>& calls, std::size_t at,
                     const std::string& action, int later) {
    const std::string name = calls.at(at).substr(0, calls[at].find('('));
    const auto count =
        std::count_if(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                      [&](const std::string& call) { return isOneOf(call, {name}); });
    return "inject=" + name + ":" + action + ":when=" + std::to_string(count + later);
}

void saveOnSignal() {
    const char* from = ::getenv("TARVIK_TEST_SAVE_FROM");
    const char* to = ::getenv("TARVIK_TEST_SAVE_TO");
    if (from == nullptr || to == nullptr || std::strlen(from) >= saveFrom.size() ||
        std::strlen(to) >= saveTo.size()) {
        return;
    }
    std::strcpy(saveFrom.data(), from);
    std::strcpy(saveTo.data(), to);
    saveInPlace = ::getenv("TARVIK_TEST_SAVE_IN_PLACE") != nullptr;
    struct sigaction action {};
    action.sa_handler = save;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR1, &action, nullptr);
}

Environment savingOnSignal(const std::filesystem::path& from, const std::filesystem::path& to,
                           bool inPlace) {
    Environment environment = {{"TARVIK_TEST_SAVE_FROM", from.string()},
                               {"TARVIK_TEST_SAVE_TO", to.string()}};
    if (inPlace) environment.emplace_back("TARVIK_TEST_SAVE_IN_PLACE", "1");
    return environment;
}

}  // namespace tarvik::testing
