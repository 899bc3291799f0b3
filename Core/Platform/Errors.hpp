// The error values shared by the whole core library. ConversionError carries
// one complete Japanese message for the user; Cancelled ends an operation whose
// stop token fired. Both are plain values and may cross threads.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvik {

class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const std::string& description) : std::runtime_error(description) {}

    std::string description() const { return what(); }
};

class Cancelled : public std::exception {
public:
    const char* what() const noexcept override;
};

// The system's own text for an error number (strerror, thread-safe).
std::string systemReason(int errorNumber);

// The file-system message form: prefix + name + "（" + reason + "）", with
// full-width parentheses, as in "書き込めません: a.mp3（No space left on device）".
std::string fileSystemMessage(std::string_view prefix, std::string_view name, int errorNumber);

}  // namespace tarvik
