// A refusal of a file's tags raised where the file is not known by name:
// the walks of ID3 tags, FLAC blocks and MP4 atoms see bytes only. The
// field editor and the M4A editor, which opened the file, give it on
// naming it, so that every refusal says which song it is about; the
// whole-record editor gives the bare text its callers know. Any thread.
#pragma once

#include <string>
#include <string_view>

#include "Core/Platform/Errors.hpp"

namespace tarvik {

class UnnamedTagError : public ConversionError {
public:
    using ConversionError::ConversionError;
};

// The refusal's text + ": " + the file's name.
[[noreturn]] inline void throwNamed(const UnnamedTagError& error, std::string_view fileName) {
    throw ConversionError(std::string(error.what()) + ": " + std::string(fileName));
}

}  // namespace tarvik
