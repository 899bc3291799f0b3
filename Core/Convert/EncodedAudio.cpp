#include "Core/Convert/EncodedAudio.hpp"

#include <mp4file.h>

#include <cstdint>
#include <string_view>

namespace tarvik::EncodedAudio {
namespace {

std::uint32_t bigEndian32(const Bytes& bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

}  // namespace

bool mp3HasFrames(const Bytes& stream) {
    if (stream.size() < 4 || stream[0] != 0xFF || (stream[1] & 0xE0) != 0xE0) {
        return !stream.empty();
    }
    // The header tag sits after the side information, whose size depends on
    // the MPEG version and on whether the frame is mono.
    const bool mpeg1 = ((stream[1] >> 3) & 0x03) == 0x03;
    const bool mono = ((stream[3] >> 6) & 0x03) == 0x03;
    const std::size_t at = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    if (stream.size() < at + 12) return true;
    const std::string_view name(reinterpret_cast<const char*>(stream.data() + at), 4);
    if (name != "Xing" && name != "Info") return true;
    constexpr std::uint32_t framesPresent = 0x01;
    if ((bigEndian32(stream, at + 4) & framesPresent) == 0) return true;
    return bigEndian32(stream, at + 8) > 0;
}

bool m4aHasFrames(const std::filesystem::path& file) {
    try {
        const TagLib::MP4::File mp4(file.c_str(), true, TagLib::AudioProperties::Fast);
        const TagLib::MP4::Properties* properties = mp4.audioProperties();
        return mp4.isValid() && properties != nullptr && properties->lengthInMilliseconds() > 0;
    } catch (...) {
        return false;
    }
}

}  // namespace tarvik::EncodedAudio
