// The text of ID3v2 text frames as the field editor reads and writes it:
// decoded from any of the four encodings, and written in the form of a
// given frame (its encoding, the byte order mark of its strings, what
// follows its text), so that a text read from a frame and written back in
// that frame's form gives the frame's bytes again. Pure, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Platform/Bytes.hpp"

namespace tarvik::id3 {

// The text of a frame's body (the encoding byte first): its strings joined
// by U+0000, without the terminators after the last one; text in a UTF-8
// frame as its bytes stand, UTF-8 or not. Nothing when the body holds no
// text in its encoding: no encoding byte, an unknown one, UTF-16 of odd
// length or with a lone surrogate.
std::optional<std::string> decodeText(const Bytes& body);

// How a body holds its text: the encoding byte; in UTF-16 the byte order
// mark of the first string (FF FE, FE FF or none), which every string
// takes; and the bytes after the text (its terminators), kept as they are.
struct TextForm {
    std::uint8_t encoding = 3;
    Bytes mark;
    Bytes tail;

    bool operator==(const TextForm&) const = default;
};

// The form of a body; nothing for an unknown encoding. Where the form does
// not give the body's own text back (strings with different marks), the
// tail is one terminator if the body ends with one.
std::optional<TextForm> formOf(const Bytes& body);

// `value` in `form`, the encoding byte first. Nothing where the text does
// not fit the encoding: Latin-1 holds only the first 256 scalars, and only
// UTF-8 holds bytes that are not UTF-8.
std::optional<Bytes> bodyInForm(std::string_view value, const TextForm& form);

}  // namespace tarvik::id3
