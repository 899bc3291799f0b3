// Running a program as a child process with its standard input fed from
// bytes and its standard output and error gathered in full. Each call owns its
// child, pipes and buffers, so any number of calls may run at once on
// different threads; the call blocks its thread until the child has exited and
// both output streams are closed. Cancellation asks the child's process group
// to terminate and kills it if it is still running three seconds later; a
// child dies with this program (parent-death signal).
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Platform/Bytes.hpp"

namespace tarvik::ChildProcess {

struct Result {
    // The exit status, or the number of the signal that ended the child.
    int exitCode = 0;
    Bytes standardOutput;
    Bytes standardError;

    bool operator==(const Result&) const = default;
};

// How long a child may go on after SIGTERM before it gets signal 9.
inline constexpr std::chrono::milliseconds terminationGrace{3000};

// Runs `program` (a path, not searched on PATH) with `arguments` as argv[1…],
// each passed unchanged. `input` absent gives the child the null device;
// present (even empty), a pipe that receives the bytes and then end of file.
// A child that stops reading its input early is no error.
//
// Throws Cancelled when `stop` was requested before the call, without starting
// anything, and std::system_error when the program can't be started. A stop
// requested later does not cut the call short: the child is stopped and the
// call returns what it produced, with the status of the stopped child.
Result run(const std::filesystem::path& program, const std::vector<std::string>& arguments,
           const std::optional<Bytes>& input, std::stop_token stop);

}  // namespace tarvik::ChildProcess
