#include "Core/Convert/FFmpegRunner.hpp"

#include <utility>

#include "Core/Platform/ChildProcess.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik {
namespace {

constexpr std::size_t shownGraphemes = 300;

// White space and line breaks, as ffmpeg's messages end with them.
bool isBlank(char32_t scalar) {
    switch (scalar) {
        case U'\n':
        case U'\v':
        case U'\f':
        case U'\r':
        case U'\u0085':
        case U'\u2028':
        case U'\u2029':
            return true;
        default:
            return text::isWhitespace(scalar);
    }
}

std::string trimBlank(std::string_view text) {
    std::u32string scalars = text::scalars(text);
    std::size_t begin = 0;
    std::size_t end = scalars.size();
    while (begin < end && isBlank(scalars[begin])) ++begin;
    while (end > begin && isBlank(scalars[end - 1])) --end;
    return text::fromScalars(std::u32string_view(scalars).substr(begin, end - begin));
}

std::string describe(std::int32_t exitCode, const std::string& standardError) {
    std::string shown = text::suffixGraphemes(trimBlank(standardError), shownGraphemes);
    if (!shown.empty()) return shown;
    return "ffmpeg が終了コード " + std::to_string(exitCode) + " で失敗";
}

}  // namespace

FFmpegError::FFmpegError(std::int32_t exitCode, std::string standardError)
    : exitCode_(exitCode),
      stderr_(std::move(standardError)),
      description_(describe(exitCode_, stderr_)) {}

FFmpegRunner::FFmpegRunner(std::filesystem::path executable) : executable_(std::move(executable)) {}

FFmpegRunner::Output FFmpegRunner::runRaw(const std::vector<std::string>& arguments,
                                          const std::optional<Bytes>& input,
                                          std::stop_token stop) const {
    std::vector<std::string> full = {"-nostdin", "-hide_banner"};
    full.insert(full.end(), arguments.begin(), arguments.end());
    ChildProcess::Result result = ChildProcess::run(executable_, full, input, std::move(stop));
    Output output;
    output.exitCode = result.exitCode;
    output.stdout = std::move(result.standardOutput);
    output.stderr = text::decodeUTF8(result.standardError);
    return output;
}

FFmpegRunner::Output FFmpegRunner::run(const std::vector<std::string>& arguments,
                                       const std::optional<Bytes>& input,
                                       std::stop_token stop) const {
    Output output = runRaw(arguments, input, std::move(stop));
    if (output.exitCode != 0) throw FFmpegError(output.exitCode, std::move(output.stderr));
    return output;
}

}  // namespace tarvik
