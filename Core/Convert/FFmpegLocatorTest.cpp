#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/FFmpegLocator.hpp"

namespace tarvik {
namespace {

// Two installed layouts, each running prefix/bin/tarvik: "with" also holds
// the delivered copy, "without" is reached through the link links/tarvik.
// A plain file and a folder named ffmpeg are never taken.
TEST(FFmpegLocator, FirstRegularExecutableFileWins) {
    TempDir temp;
    for (const char* name :
         {"with/bin/tarvik", "with/libexec/tarvik/ffmpeg", "with/bin/ffmpeg", "without/bin/tarvik",
          "without/bin/ffmpeg", "links/ffmpeg", "dev/ffmpeg", "chosen/ffmpeg"})
        testing::writeScript(temp / name, "");
    writeFile(temp / "plain/ffmpeg", "");
    fs::create_directories(temp / "folder/ffmpeg");
    fs::create_symlink(temp / "without/bin/tarvik", temp / "links/tarvik");
    using Names = std::vector<std::string>;
    // The environment value, the running program, the development build, the
    // fixed places, the winner.
    const std::vector<std::tuple<std::string, std::string, std::string, Names, std::string>> cases =
        {{"chosen/ffmpeg", "with/bin/tarvik", "dev/ffmpeg", {}, "chosen/ffmpeg"},
         {"", "with/bin/tarvik", "dev/ffmpeg", {}, "with/libexec/tarvik/ffmpeg"},
         {"plain/ffmpeg", "links/tarvik", "dev/ffmpeg", {}, "without/bin/ffmpeg"},
         {"folder/ffmpeg", "none", "dev/ffmpeg", {"chosen/ffmpeg"}, "dev/ffmpeg"},
         {"", "none", "none", {"plain/ffmpeg", "folder/ffmpeg", "chosen/ffmpeg"}, "chosen/ffmpeg"},
         {"plain/ffmpeg", "none", "none", {"folder/ffmpeg"}, "none"}};
    for (const auto& [environment, executable, development, fixed, expected] : cases) {
        const std::string chosen = environment.empty() ? "" : (temp / environment).string();
        FFmpegLocator::Places places{chosen, temp / executable, temp / development, {}};
        for (const auto& name : fixed) places.fixed.push_back(temp / name);
        const auto found = FFmpegLocator::locate(places);
        EXPECT_EQ(found ? fs::relative(*found, temp.path()).string() : "none", expected);
    }
    const fs::path mine = temp / "chosen/ffmpeg";
    ::setenv("TARVIK_FFMPEG", mine.c_str(), 1);  // read from this process's environment
    EXPECT_EQ(FFmpegLocator::locate(), mine);
    ::unsetenv("TARVIK_FFMPEG");
}

}  // namespace
}  // namespace tarvik
