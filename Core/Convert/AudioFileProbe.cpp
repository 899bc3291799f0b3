#include "Core/Convert/AudioFileProbe.hpp"

#include <utility>

#include "Core/Naming/FFMetadataParser.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {

SourceTags AudioFileProbe::readTags(const std::filesystem::path& file,
                                    std::stop_token stop) const noexcept {
    return tryReadTags(file, std::move(stop)).value_or(SourceTags{});
}

std::optional<SourceTags> AudioFileProbe::tryReadTags(const std::filesystem::path& file,
                                                      std::stop_token stop) const noexcept {
    try {
        // A relative name such as "a:b.flac" would read as a protocol to ffmpeg.
        const std::filesystem::path input =
            file.is_absolute() ? file : std::filesystem::absolute(file);
        // ffmpeg would wait in open() on a pipe named like a song.
        if (!isRegularFile(input)) return std::nullopt;
        // Only errors on standard error; the metadata text alone on standard output.
        FFmpegRunner::Output output = runner->runRaw(
            {"-loglevel", "error", "-i", input.string(), "-f", "ffmetadata", "pipe:1"},
            std::nullopt, std::move(stop));
        if (output.exitCode != 0) return std::nullopt;
        return FFMetadataParser::tags(FFMetadataParser::parse(text::decodeUTF8(output.stdout)));
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace tarvik
