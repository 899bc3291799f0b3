// Conversions between UTF-8 text and the byte encodings that tags and cards
// use. Conversions to a legacy encoding are strict: they succeed only when
// every character has a code there. Thread-safe; ICU converters are kept one
// per thread because they are not.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Core/Platform/Bytes.hpp"

namespace tarvik::text {

// Windows code page 932 (ICU "windows-31j"), without fallbacks or substitution.
std::optional<Bytes> toCP932(std::string_view text);
// The text that bytes in code page 932 spell, without substitution: nothing
// when a byte sequence has no character there or names a user-defined one
// (private use), which nobody else can read.
std::optional<std::string> fromCP932(std::string_view bytes);
// The text with each JIS form that code page 932 lacks replaced by its code
// page 932 twin, which looks the same on a unit (U+301C WAVE DASH becomes
// U+FF5E FULLWIDTH TILDE). Tags and names written for Shift-JIS apply it first.
std::string withCP932Twins(std::string_view text);
// ISO-8859-1: every scalar must be below U+0100.
std::optional<Bytes> toLatin1(std::string_view text);
// UTF-16 little-endian code units, without a byte order mark.
Bytes toUTF16LE(std::string_view text);

// Valid UTF-8 from any bytes; each ill-formed sequence becomes U+FFFD.
std::string decodeUTF8(std::string_view bytes);
std::string decodeUTF8(const Bytes& bytes);

}  // namespace tarvik::text
