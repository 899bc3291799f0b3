// The SHA-256 digest of bytes, written as 64 lowercase hexadecimal digits,
// through OpenSSL's libcrypto. Pure functions: any thread may call them.
// They fail only when libcrypto itself does, and then throw
// std::runtime_error, or where the source's own read throws.
#pragma once

#include <string>
#include <string_view>

#include "Core/Platform/ByteStreams.hpp"

namespace tarvik {

std::string sha256Hex(std::string_view bytes);
// Of everything `source` holds, read a bounded piece at a time.
std::string sha256Hex(ByteSource& source);
// Whether `text` is a digest as these write it.
bool isSha256Hex(std::string_view text);

}  // namespace tarvik
