#include "Core/Convert/FFmpegRunner.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>
#include <vector>

#include "Core/Platform/ChildProcess.hpp"
#include "Core/Platform/Errors.hpp"
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

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The loudness filter prints its summary when it closes, also after a failed
// run: a heading ending in "Summary:", then blank and indented lines. It says
// nothing about the failure and would push the error itself out of view.
std::vector<std::string_view> withoutLoudnessSummary(const std::vector<std::string_view>& lines) {
    std::vector<std::string_view> kept;
    bool inSummary = false;
    for (std::string_view line : lines) {
        if (inSummary && (line.empty() || line.front() == ' ' || line.front() == '\t')) continue;
        inSummary = trimBlank(line).ends_with("Summary:");
        if (!inSummary) kept.push_back(line);
    }
    return kept;
}

// What ffmpeg prints besides its errors at the default log level: the dump of
// inputs and outputs (a heading, then indented lines such as a "genre : Folk"
// metadata line), progress, the loudness filter's measurements and the note
// that a line was repeated. Shown before the error, they would push it out
// of view. Lines are kept once each.
std::vector<std::string_view> errorLines(const std::vector<std::string_view>& lines) {
    static constexpr std::string_view noise[] = {"Last message repeated", "Press [q]", "size=",
                                                 "video:", "frame="};
    static constexpr std::string_view dumps[] = {"Input #", "Output #", "Stream mapping:"};
    std::vector<std::string_view> kept;
    bool inDump = false;
    for (std::string_view line : lines) {
        const bool indented = !line.empty() && (line.front() == ' ' || line.front() == '\t');
        if (inDump && indented) continue;
        inDump = std::ranges::any_of(dumps, [&](auto d) { return line.starts_with(d); });
        if (inDump || trimBlank(line).empty()) continue;
        if (std::ranges::any_of(noise, [&](auto n) { return line.starts_with(n); })) continue;
        if (line.find("Parsed_ebur128") != std::string_view::npos) continue;
        if (std::ranges::find(kept, line) == kept.end()) kept.push_back(line);
    }
    return kept;
}

// The last whole lines that fit, so that the text never starts in the middle
// of a word; a single last line too long to fit keeps its end.
std::string lastLines(std::string_view text) {
    if (text::graphemeCount(text) <= shownGraphemes) return std::string(text);
    const std::vector<std::string_view> lines = splitLines(text);
    std::string shown;
    std::size_t count = 0;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const std::size_t length = text::graphemeCount(*line) + (shown.empty() ? 0 : 1);
        if (count + length > shownGraphemes) break;
        shown = shown.empty() ? std::string(*line) : std::string(*line) + "\n" + shown;
        count += length;
    }
    if (shown.empty()) return text::suffixGraphemes(lines.back(), shownGraphemes);
    return trimBlank(shown);
}

// ffmpeg names the part that speaks with its address in memory, as in
// "[mp3 @ 0x55d0c8a4f2c0]", which changes from run to run: the name stays.
std::string withoutAddresses(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t found = text.find(" @ 0x", at);
        if (found == std::string_view::npos) {
            kept += text.substr(at);
            break;
        }
        std::size_t end = found + 5;
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
        const bool address = end > found + 5 && end < text.size() && text[end] == ']' &&
                             text.substr(at, found - at).find('[') != std::string_view::npos;
        kept += text.substr(at, found - at);
        if (!address) kept += text.substr(found, end - found);
        at = end;
    }
    return kept;
}

std::string describe(std::int32_t exitCode, const std::string& rawError) {
    // Only the error lines, each once, with the system's causes in Japanese.
    const std::string standardError = withoutAddresses(rawError);
    std::string kept;
    for (std::string_view line : errorLines(withoutLoudnessSummary(splitLines(standardError)))) {
        kept += line;
        kept += '\n';
    }
    std::string shown = lastLines(withJapaneseSystemTexts(trimBlank(kept)));
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
