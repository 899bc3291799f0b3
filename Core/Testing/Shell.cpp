#include "Core/Testing/Shell.hpp"

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace tarvik::testing {
namespace {

bool runnable(const std::string& program) {
    if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    for (std::string_view folders = path ? path : "";;) {
        const std::size_t colon = folders.find(':');
        const std::string folder(folders.substr(0, colon));
        if (::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        folders.remove_prefix(colon + 1);
    }
}

}  // namespace

std::string shellQuote(std::string_view argument) {
    std::string quoted = "'";
    for (char c : argument) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += "'";
    return quoted;
}

ShellResult runCommand(const std::vector<std::string>& words) {
    std::string command;
    for (const std::string& word : words) {
        if (!command.empty()) command += ' ';
        command += shellQuote(word);
    }
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("popen failed: " + command);
    ShellResult result;
    std::array<char, 65536> buffer{};
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
        result.output.append(buffer.data(), got);
    }
    int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string missingProgram(const std::vector<std::string>& programs) {
    for (const std::string& program : programs) {
        if (!runnable(program)) return program + " is not installed";
    }
    return {};
}

}  // namespace tarvik::testing
