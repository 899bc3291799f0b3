#include "Core/Testing/Traced.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

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
