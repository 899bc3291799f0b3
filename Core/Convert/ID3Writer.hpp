// The ID3 tags the car unit reads in an MP3 file: an ID3v2.3 or ID3v2.4 tag in
// front of the audio and the 128-byte ID3v1.1 trailer after it. A writer is an
// immutable value built from a device profile's tag settings; encoding is pure
// and never fails, so any number of threads may encode at once. Only write()
// touches files, and it throws ConversionError when it can't read or write.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Platform/Bytes.hpp"

namespace tarvik {

struct ID3Writer {
    enum class Version { v2_3, v2_4 };
    enum class TextEncoding { latin1, utf16, utf8, shiftJIS };

    struct Tags {
        std::string title{};
        std::string artist{};
        std::string album{};
        std::string albumArtist{};
        std::string track{};
        std::string disc{};
        std::string year{};
        std::string genre{};
        std::optional<Bytes> artworkJPEG{};
        // The album the file belongs to and which of its songs it holds
        // (AlbumIdentity), each in a private "TXXX" frame that units do not
        // show; empty: no such frame.
        std::string albumIdentity{};
        std::string trackIdentity{};

        // Texts compare by canonical equivalence, the artwork byte for byte.
        bool operator==(const Tags& other) const;
    };

    // The tag size field is a 28-bit syncsafe number, so a tag (frames and
    // padding, without its header) must stay below this.
    static constexpr std::uint32_t tagSizeLimit = 1U << 28;

    Version version = Version::v2_3;
    TextEncoding preferredEncoding = TextEncoding::utf16;
    bool writeV1 = false;
    // Consulted by the callers that join tag and audio; encodeV2 ignores it.
    bool writeV2 = true;

    // A whole ID3v2 tag: header, frames, then 1024 + paddingHint / 1000 zero
    // bytes (the converter passes the audio's byte length as the hint). A cover
    // that would take the tag to tagSizeLimit is left out.
    Bytes encodeV2(const Tags& tags, std::int64_t paddingHint) const;

    // Exactly 128 bytes, or none when writeV1 is false.
    Bytes encodeV1(const Tags& tags) const;

    // Tag, the audio file's bytes unchanged, trailer, written to `destination`
    // so that it holds either its old content or the whole result. The audio
    // is expected to carry no tags of its own.
    void write(const Tags& tags, const std::filesystem::path& audio,
               const std::filesystem::path& destination) const;

    // The descriptions of the private frames that name the file's album and song.
    static constexpr std::string_view albumIdentityDescription = "TARVIK_ALBUM";
    static constexpr std::string_view trackIdentityDescription = "TARVIK_TRACK";

    // One serialised text frame with the encoding this writer picks for it.
    Bytes textFrame(std::string_view id, std::string_view text) const;
};

// Building blocks shared with the tag editor.
namespace id3 {

// Four 7-bit groups, most significant first; bits above the 28th are dropped.
std::array<std::uint8_t, 4> syncsafe(std::uint32_t value);
std::uint32_t readSyncsafe(const std::uint8_t* bytes);
std::uint32_t readBigEndian32(const std::uint8_t* bytes);

// Frame header (identifier, body size in the version's form, no flags) and body.
Bytes frame(std::string_view id, const Bytes& body, ID3Writer::Version version);

// The ID3v1 genre list with its later extensions, 192 names.
extern const std::array<std::string_view, 192> genres;

}  // namespace id3

}  // namespace tarvik
