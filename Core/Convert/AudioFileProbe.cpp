#include "Core/Convert/AudioFileProbe.hpp"

#include <utility>

#include "Core/Naming/FFMetadataParser.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {

SourceTags AudioFileProbe::readTags(const std::filesystem::path& file,
                                    std::stop_token stop) const noexcept {
    try {
        // A relative name such as "a:b.flac" would read as a protocol to ffmpeg.
        const std::filesystem::path input =
            file.is_absolute() ? file : std::filesystem::absolute(file);
        // ffmpeg would wait in open() on a pipe named like a song.
        if (!isRegularFile(input)) return {};
        // Only errors on standard error; the metadata text alone on standard output.
        FFmpegRunner::Output output = runner->runRaw(
            {"-loglevel", "error", "-i", input.string(), "-f", "ffmetadata", "pipe:1"},
            std::nullopt, std::move(stop));
        if (output.exitCode != 0) return {};
        return FFMetadataParser::tags(FFMetadataParser::parse(text::decodeUTF8(output.stdout)));
    } catch (...) {
        return {};
    }
}

}  // namespace tarvik
