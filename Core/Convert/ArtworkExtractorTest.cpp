#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Core/Convert/ArtworkExtractor.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::makePicture;
using testing::TempDir;
using testing::writeFile;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string textOf(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

ArtworkExtractor extractor() {
    return ArtworkExtractor{std::make_shared<FFmpegRunner>("/usr/bin/ffmpeg")};
}

struct PictureFacts {
    std::string codec;
    int width = 0;
    int height = 0;
};

PictureFacts probePicture(const fs::path& path) {
    auto result =
        testing::runCommand({"ffprobe", "-v", "error", "-show_entries",
                             "stream=codec_name,width,height", "-of", "json", path.string()});
    auto stream = nlohmann::json::parse(result.output).at("streams").at(0);
    return {stream.at("codec_name"), stream.at("width"), stream.at("height")};
}

TEST(ArtworkExtractor, EmbeddedPNGComesOutAsStoredAndScalesToAJPEG) {
    TempDir temp;
    makePicture(temp / "big.png", 1000, 750);
    testing::makeTone(temp / "plain.flac", {.seconds = 0.5});
    fs::create_directories(temp / "album");
    ASSERT_EQ(
        testing::runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i",
                             (temp / "plain.flac").string(), "-i", (temp / "big.png").string(),
                             "-map", "0", "-map", "1", "-c", "copy", "-disposition:v",
                             "attached_pic", (temp / "album" / "01.flac").string()})
            .exitCode,
        0);
    // A picture file beside the source does not win over the embedded one.
    writeFile(temp / "album" / "cover.jpg", "beside");

    auto embedded = extractor().extract(temp / "album" / "01.flac", {});
    ASSERT_TRUE(embedded);
    EXPECT_EQ(textOf(*embedded), testing::readFile(temp / "big.png"));

    auto scaled = extractor().scale(*embedded, 300, {});
    ASSERT_TRUE(scaled);
    writeFile(temp / "scaled.jpg", textOf(*scaled));
    PictureFacts facts = probePicture(temp / "scaled.jpg");
    EXPECT_EQ(facts.codec, "mjpeg");
    EXPECT_EQ(facts.width, 300);
    EXPECT_EQ(facts.height % 2, 0);
    EXPECT_NEAR(facts.height, 225, 1);
}

TEST(ArtworkExtractor, ScalingNeverEnlargesAndRefusesWhatIsNoPicture) {
    TempDir temp;
    makePicture(temp / "small.png", 200, 150);
    auto small = extractor().scale(bytesOf(testing::readFile(temp / "small.png")), 300, {});
    ASSERT_TRUE(small);
    writeFile(temp / "small.jpg", textOf(*small));
    PictureFacts facts = probePicture(temp / "small.jpg");
    EXPECT_EQ(facts.codec, "mjpeg");
    EXPECT_EQ(facts.width, 200);
    EXPECT_EQ(facts.height, 150);

    EXPECT_EQ(extractor().scale(bytesOf("not a picture"), 300, {}), std::nullopt);
    EXPECT_EQ(extractor().scale({}, 300, {}), std::nullopt);
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(
        extractor().scale(bytesOf(testing::readFile(temp / "small.png")), 300, stopped.get_token()),
        std::nullopt);
}

// The source has no embedded picture; what the folder holds decides.
TEST(ArtworkExtractor, CoverFileBesideTheSource) {
    TempDir temp;
    testing::makeTone(temp / "tone.flac", {.seconds = 0.2});
    const std::string twentyMiB(ArtworkExtractor::coverFileLimit, 'j');
    struct Case {
        std::string name;
        std::vector<std::pair<std::string, std::string>> files;
        std::vector<std::string> fifos;
        std::vector<std::string> folders;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"first name in order wins",
         {{"front.jpg", "front"}, {"folder.jpg", "folder"}},
         {},
         {},
         "folder"},
        {"a FIFO is passed over", {{"folder.jpg", "folder"}}, {"cover.jpg"}, {}, "folder"},
        {"a folder is passed over", {{"front.jpg", "front"}}, {}, {"cover.jpg"}, "front"},
        {"exactly the limit is read", {{"cover.jpg", twentyMiB}}, {}, {}, twentyMiB},
        {"beyond the limit is passed over",
         {{"cover.jpg", twentyMiB + "j"}, {"front.jpg", "front"}},
         {},
         {},
         "front"},
    };
    for (const Case& test : cases) {
        const fs::path folder = temp / test.name;
        fs::create_directories(folder);
        fs::copy_file(temp / "tone.flac", folder / "01.flac");
        for (const auto& [name, content] : test.files) writeFile(folder / name, content);
        for (const std::string& name : test.fifos) {
            ASSERT_EQ(::mkfifo((folder / name).c_str(), 0600), 0);
        }
        for (const std::string& name : test.folders) fs::create_directory(folder / name);

        std::optional<Bytes> picture = extractor().extract(folder / "01.flac", {});
        std::optional<std::string> got;
        if (picture) got = textOf(*picture);
        EXPECT_EQ(got.has_value(), test.expected.has_value()) << test.name;
        if (got && test.expected) {
            EXPECT_TRUE(*got == *test.expected) << test.name;  // no 20 MiB dump on failure
        }
    }
}

TEST(ArtworkExtractor, CancelledExtractionGivesNoPicture) {
    TempDir temp;
    testing::makeTone(temp / "01.flac", {.seconds = 0.2});
    writeFile(temp / "cover.jpg", "cover");
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(extractor().extract(temp / "01.flac", stopped.get_token()), std::nullopt);
}

}  // namespace
}  // namespace tarvik
