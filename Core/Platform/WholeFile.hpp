// Reading a whole file into memory, for the tag writers and editors that
// rebuild a file from its complete bytes. Blocks the calling thread; safe from
// any thread. Failures throw ConversionError "読み込めません: " + file name +
// "（" + the system's reason + "）".
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "Core/Platform/Bytes.hpp"

namespace tarvik {

// Only a regular file is read; anything else (a pipe, a device, a folder) is
// refused without waiting, with "読み込めません: " + name + "（ファイルではありません）".
Bytes readWholeFile(const std::filesystem::path& path);

// The program's own small files (profiles, the alias list): a regular file of
// at most `limit` bytes, read whole; opened without waiting, so a pipe named
// like one is refused. Failures throw ConversionError "読めません: " + name +
// "（" + reason + "）"; a larger file is refused unread.
std::string readSmallFile(const std::filesystem::path& path, std::size_t limit);
inline constexpr std::size_t settingsFileLimit = 1024 * 1024;

// Whether the path (links followed) names a regular file. Never blocks.
bool isRegularFile(const std::filesystem::path& path);

// "読み込めません: " + the file's name + "（ファイルではありません）".
std::string notAFileMessage(const std::filesystem::path& path);

// The bytes seen as text, for handing them to writeFileAtomically.
inline std::string_view asText(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace tarvik
