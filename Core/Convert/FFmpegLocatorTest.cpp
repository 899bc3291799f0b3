#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Core/Convert/FFmpegLocator.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::writeScript;

// An installed layout: prefix/bin/tarvik is the running program, reached
// through links/tarvik when `linked`; the other names are places a case may
// fill with an executable.
constexpr const char* delivered = "prefix/libexec/tarvik/ffmpeg";
constexpr const char* beside = "prefix/bin/ffmpeg";
constexpr const char* besideTheLink = "links/ffmpeg";
constexpr const char* chosen = "chosen/ffmpeg";
constexpr const char* development = "dev/ffmpeg";
constexpr const char* notExecutable = "plain/ffmpeg";
constexpr const char* folder = "folder/ffmpeg";

TEST(FFmpegLocator, FirstRegularExecutableFileWins) {
    struct Case {
        std::string name;
        std::vector<std::string> executables;    // made in the layout
        std::optional<std::string> environment;  // a layout name, or "" as it stands
        std::vector<std::string> fixed;
        std::optional<std::string> expected;
        bool linked = false;
    };
    const std::vector<Case> cases = {
        {"environment wins over the delivered copy", {chosen, delivered}, chosen, {}, chosen},
        {"empty environment value is ignored", {delivered}, "", {}, delivered},
        {"non-executable environment value is ignored", {beside}, notExecutable, {}, beside},
        {"folder in the environment is ignored", {beside}, folder, {}, beside},
        {"delivered copy before the one beside", {delivered, beside}, {}, {}, delivered},
        {"beside before the development build", {beside, development}, {}, {}, beside},
        {"development build first of the fixed", {development, chosen}, {}, {chosen}, development},
        {"next fixed place", {chosen}, {}, {notExecutable, chosen}, chosen},
        {"nothing usable", {}, notExecutable, {folder, notExecutable}, std::nullopt},
        {"beside the link's target", {beside, besideTheLink}, {}, {}, beside, true},
    };
    for (const Case& test : cases) {
        testing::TempDir temp;
        writeScript(temp / "prefix/bin/tarvik", "");
        testing::writeFile(temp / notExecutable, "");
        fs::create_directories(temp / folder);
        fs::create_directories(temp / "links");
        fs::create_symlink(temp / "prefix/bin/tarvik", temp / "links/tarvik");
        for (const auto& name : test.executables) writeScript(temp / name, "");
        FFmpegLocator::Places places;
        places.executable = temp / (test.linked ? "links/tarvik" : "prefix/bin/tarvik");
        places.developmentBuild = temp / development;
        places.fixed.clear();
        if (test.environment) {
            places.environmentValue =
                test.environment->empty() ? "" : (temp / *test.environment).string();
        }
        for (const auto& name : test.fixed) places.fixed.push_back(temp / name);
        auto found = FFmpegLocator::locate(places);
        EXPECT_EQ(found.has_value(), test.expected.has_value()) << test.name;
        if (found && test.expected) {
            EXPECT_TRUE(fs::equivalent(*found, temp / *test.expected))
                << test.name << ": " << *found;
        }
    }
    testing::TempDir other;
    const fs::path mine = writeScript(other / "ffmpeg", "");
    ::setenv("TARVIK_FFMPEG", mine.c_str(), 1);  // read from this process's environment
    EXPECT_EQ(FFmpegLocator::locate(), mine);
    ::unsetenv("TARVIK_FFMPEG");
}

}  // namespace
}  // namespace tarvik
