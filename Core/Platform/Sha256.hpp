// The SHA-256 digest of bytes, written as 64 lowercase hexadecimal digits,
// through OpenSSL's libcrypto. A pure function: any thread may call it.
// It fails only when libcrypto itself does, and then throws std::runtime_error.
#pragma once

#include <string>
#include <string_view>

namespace tarvik {

std::string sha256Hex(std::string_view bytes);

}  // namespace tarvik
