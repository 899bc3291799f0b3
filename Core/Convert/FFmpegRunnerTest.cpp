#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/FFmpegRunner.hpp"

namespace tarvik {
namespace {

// The text kept for the user: the last whole lines of standard error (at most
// 300 characters), never the loudness summary and no address in memory that
// changes from run to run, else the exit code.
TEST(FFmpegRunner, ErrorTextIsTheEndOfStandardErrorOrTheExitCode) {
    std::string thousand, accents, lines, lastFive;
    for (int i = 0; i < 1000; ++i) thousand += static_cast<char>('a' + i % 26);
    for (int i = 0; i < 301; ++i) accents += "e\u0301";  // one character, two scalars
    // Ten lines of 50: the last five and their four breaks make 254.
    for (int i = 0; i < 10; ++i) {
        lines += std::to_string(i) + std::string(49, '.') + "\r\n";
        if (i >= 5) lastFive += std::to_string(i) + std::string(49, '.') + (i < 9 ? "\n" : "");
    }
    const std::string summary = testing::loudnessSummary("-21.8", "-18.1");
    const std::vector<std::tuple<std::int32_t, std::string, std::string>> cases = {
        {1, " \n \r\n\t", "ffmpeg が終了コード 1 で失敗"},
        {1, "in.flac: Invalid data found\n" + summary, "in.flac: Invalid data found"},
        {1, summary, "ffmpeg が終了コード 1 で失敗"},
        {1, "first\n" + summary + "[aac] Too many bits\n" + summary, "first\n[aac] Too many bits"},
        {1, lines, lastFive},
        {234, "\n  Error opening input\n\n", "Error opening input"},
        {1, thousand, thousand.substr(700)},
        // The dump of the input, repeats and progress are no error; the
        // system's causes are told in Japanese.
        {1,
         "[flac @ 0x1] invalid residual\nLast message repeated 1 times\n"
         "Input #0, flac, from 'a.flac':\n  Metadata:\n    genre           : Folk\n"
         "  Duration: 00:00:01.00\n[flac @ 0x1] invalid residual\n"
         "size=       0kB time=00:00:00.00\n"
         "a.flac: Too many levels of symbolic links\n",
         "[flac] invalid residual\na.flac: リンクがループしています"},
        {1, "[mp3 @ 0x55d0c8a4f2c0] Header missing\n[mp3 @ 0x55d0c8a4f900] Header missing\n",
         "[mp3] Header missing"},
        {1, "Error at offset @ 0x10 [a]\n[in#0 @ 0xZZ] kept",
         "Error at offset @ 0x10 [a]\n[in#0 @ 0xZZ] kept"},
        {1, accents, accents.substr(3)}};
    for (const auto& [exitCode, standardError, text] : cases) {
        EXPECT_EQ(FFmpegError(exitCode, standardError).description(), text);
    }
}

}  // namespace
}  // namespace tarvik
