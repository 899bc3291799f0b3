// Replacing a small file so that a reader sees either the old or the new
// content, never a half-written one: the bytes go to a hidden temporary file
// beside the target, are flushed to the disk, and the temporary file is then
// renamed over the target. Blocks the calling thread; safe from any thread.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarvik {

// Creates the target's folder and any missing parents, then writes. Failures
// throw ConversionError ("フォルダを作れません: …" or "書き込めません: …") and
// leave an earlier file at the target as it was.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

}  // namespace tarvik
