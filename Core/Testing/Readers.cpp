#include "Core/Testing/Readers.hpp"

#include <gtest/gtest.h>

#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {

std::string outputOf(const std::vector<std::string>& words) {
    const ShellResult result = runCommand(words);
    EXPECT_EQ(result.exitCode, 0) << words.front() << " " << words.back();
    return result.output;
}

nlohmann::json jsonOf(const std::vector<std::string>& words) {
    return nlohmann::json::parse(outputOf(words));
}

std::string runScript(std::string_view script, const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {
        systemPython,
        std::string(TARVIK_SOURCE_DIR "/Core/Convert/testdata/") + std::string(script)};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return outputOf(words);
}

nlohmann::json mutagenID3(const std::filesystem::path& file) {
    return nlohmann::json::parse(runScript("id3_read.py", {file.string()}));
}

nlohmann::json mutagenMP4(const std::filesystem::path& file) {
    return nlohmann::json::parse(runScript("mp4_read.py", {file.string()}));
}

nlohmann::json ffprobe(const std::filesystem::path& file, std::string_view entries) {
    return jsonOf({"ffprobe", "-v", "error", "-show_entries", std::string(entries), "-of", "json",
                   file.string()});
}

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes hex(std::string_view pairs) {
    Bytes out;
    for (std::size_t at = 0; at < pairs.size(); ++at) {
        if (pairs[at] == ' ') continue;
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(pairs.substr(at, 2)), nullptr, 16)));
        ++at;
    }
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace tarvik::testing
