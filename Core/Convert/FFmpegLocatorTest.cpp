#include <stdlib.h>

#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/FFmpegLocator.hpp"
#include "Core/Testing/Script.hpp"

namespace tarvik {
namespace {

// An installed layout: prefix/bin/tarvik is the running program, always
// reached through links/tarvik; the other names are places a case may fill
// with an executable.
constexpr const char* delivered = "prefix/libexec/tarvik/ffmpeg";
constexpr const char* beside = "prefix/bin/ffmpeg";
constexpr const char* chosen = "chosen/ffmpeg";
constexpr const char* development = "dev/ffmpeg";
constexpr const char* notExecutable = "plain/ffmpeg";
constexpr const char* folder = "folder/ffmpeg";

TEST(FFmpegLocator, FirstRegularExecutableFileWins) {
    using Names = std::vector<std::string>;
    // Executables made, the environment value ("" as it stands), fixed places, the winner.
    const std::vector<std::tuple<Names, std::optional<std::string>, Names, std::string>> cases = {
        {{chosen, delivered}, chosen, {}, chosen},
        {{delivered}, "", {}, delivered},
        {{beside}, notExecutable, {}, beside},
        {{beside}, folder, {}, beside},
        {{delivered, beside}, {}, {}, delivered},
        // beside the link's target, not beside the link
        {{beside, "links/ffmpeg", development}, {}, {}, beside},
        {{development, chosen}, {}, {chosen}, development},
        {{chosen}, {}, {notExecutable, chosen}, chosen},
        {{}, notExecutable, {folder, notExecutable}, "none"}};
    for (const auto& [executables, environment, fixed, expected] : cases) {
        TempDir temp;
        testing::writeScript(temp / "prefix/bin/tarvik", "");
        writeFile(temp / notExecutable, "");
        fs::create_directories(temp / folder);
        fs::create_directories(temp / "links");
        fs::create_symlink(temp / "prefix/bin/tarvik", temp / "links/tarvik");
        for (const auto& name : executables) testing::writeScript(temp / name, "");
        FFmpegLocator::Places places{environment, temp / "links/tarvik", temp / development, {}};
        if (environment && !environment->empty()) places.environmentValue = temp / *environment;
        for (const auto& name : fixed) places.fixed.push_back(temp / name);
        const auto found = FFmpegLocator::locate(places);
        EXPECT_EQ(found ? fs::relative(*found, temp.path()).string() : "none", expected);
    }
    TempDir other;
    const fs::path mine = testing::writeScript(other / "ffmpeg", "");
    ::setenv("TARVIK_FFMPEG", mine.c_str(), 1);  // read from this process's environment
    EXPECT_EQ(FFmpegLocator::locate(), mine);
    ::unsetenv("TARVIK_FFMPEG");
}

}  // namespace
}  // namespace tarvik
