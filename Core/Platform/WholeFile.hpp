// Reading a whole file into memory, for the tag writers and editors that
// rebuild a file from its complete bytes. Blocks the calling thread; safe from
// any thread. Failures throw ConversionError "読み込めません: " + file name +
// "（" + the system's reason + "）".
#pragma once

#include <filesystem>
#include <string_view>

#include "Core/Platform/Bytes.hpp"

namespace tarvik {

Bytes readWholeFile(const std::filesystem::path& path);

// The bytes seen as text, for handing them to writeFileAtomically.
inline std::string_view asText(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace tarvik
