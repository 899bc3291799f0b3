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
using testing::TempDir;
using testing::writeFile;
using testing::writeScript;

// An installed layout: prefix/bin/tarvik is the running program; the other
// names are places a case may fill with an executable.
constexpr const char* program = "prefix/bin/tarvik";
constexpr const char* delivered = "prefix/libexec/tarvik/ffmpeg";
constexpr const char* beside = "prefix/bin/ffmpeg";
constexpr const char* chosen = "chosen/ffmpeg";
constexpr const char* development = "dev/ffmpeg";
constexpr const char* notExecutable = "plain/ffmpeg";
constexpr const char* folder = "folder/ffmpeg";

struct Layout {
    TempDir temp;

    Layout() {
        writeScript(temp / program, "");
        writeFile(temp / notExecutable, "");
        fs::create_directories(temp / folder);
    }
    FFmpegLocator::Places places() const {
        FFmpegLocator::Places result;
        result.executable = temp / program;
        result.developmentBuild = temp / development;
        result.fixed.clear();
        return result;
    }
};

TEST(FFmpegLocator, FirstRegularExecutableFileWins) {
    struct Case {
        std::string name;
        std::vector<std::string> executables;    // made in the layout
        std::optional<std::string> environment;  // a layout name, or "" as it stands
        std::vector<std::string> fixed;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"environment wins over the delivered copy", {chosen, delivered}, chosen, {}, chosen},
        {"empty environment value is ignored", {delivered}, "", {}, delivered},
        {"non-executable environment value is ignored", {beside}, notExecutable, {}, beside},
        {"folder in the environment is ignored", {beside}, folder, {}, beside},
        {"delivered copy before the one beside", {delivered, beside}, {}, {}, delivered},
        {"beside before the development build", {beside, development}, {}, {}, beside},
        {"development build before the fixed places",
         {development, chosen},
         {},
         {chosen},
         development},
        {"second fixed place when the first is not executable",
         {chosen},
         {},
         {notExecutable, chosen},
         chosen},
        {"nothing usable", {}, notExecutable, {folder, notExecutable}, std::nullopt},
    };
    for (const Case& test : cases) {
        Layout layout;
        for (const auto& name : test.executables) writeScript(layout.temp / name, "");
        FFmpegLocator::Places places = layout.places();
        if (test.environment) {
            places.environmentValue =
                test.environment->empty() ? "" : (layout.temp / *test.environment).string();
        }
        for (const auto& name : test.fixed) places.fixed.push_back(layout.temp / name);
        auto found = FFmpegLocator::locate(places);
        if (!test.expected) {
            EXPECT_EQ(found, std::nullopt) << test.name;
        } else {
            ASSERT_TRUE(found) << test.name;
            EXPECT_TRUE(fs::equivalent(*found, layout.temp / *test.expected))
                << test.name << ": " << *found;
        }
    }
}

TEST(FFmpegLocator, ExecutableReachedThroughALinkFindsTheFFmpegBesideItsTarget) {
    Layout layout;
    writeScript(layout.temp / beside, "");
    fs::create_directories(layout.temp / "links");
    fs::create_symlink(layout.temp / program, layout.temp / "links" / "tarvik");
    writeScript(layout.temp / "links" / "ffmpeg", "");  // beside the link: not taken
    FFmpegLocator::Places places = layout.places();
    places.executable = layout.temp / "links" / "tarvik";
    auto found = FFmpegLocator::locate(places);
    ASSERT_TRUE(found);
    EXPECT_TRUE(fs::equivalent(*found, layout.temp / beside)) << *found;
}

TEST(FFmpegLocator, EnvironmentVariableOfThisProcessIsRead) {
    Layout layout;
    const fs::path chosenPath = writeScript(layout.temp / chosen, "");
    ::setenv("TARVIK_FFMPEG", chosenPath.c_str(), 1);
    auto found = FFmpegLocator::locate();
    ::unsetenv("TARVIK_FFMPEG");
    EXPECT_EQ(found, chosenPath);
}

}  // namespace
}  // namespace tarvik
