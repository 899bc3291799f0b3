// The error values shared by the whole core library. ConversionError carries
// one complete Japanese message for the user; Cancelled ends an operation whose
// stop token fired. Both are plain values and may cross threads.
#pragma once

#include <optional>
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

// The text the user reads for an error number: Japanese for the causes users
// meet with files and cards (no such file, permission, read-only, no space,
// name too long, link loop, input/output error), the system's own text
// (strerror, thread-safe) for the rest.
std::string systemReason(int errorNumber);

// `text` with the system's English texts of those causes, as other programs
// (ffmpeg) print them, replaced by the Japanese ones.
std::string withJapaneseSystemTexts(std::string_view text);

// The Japanese cause that `reason` names, if it names one of them; a run
// reports such a cause once, not once for every file it stops.
std::optional<std::string_view> systemCause(std::string_view reason);

// The file-system message form: prefix + name + "（" + reason + "）", with
// full-width parentheses, as in "書き込めません: a.mp3（No space left on device）".
std::string fileSystemMessage(std::string_view prefix, std::string_view name, int errorNumber);

}  // namespace tarvik
