#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <tuple>
#include <vector>

#include "Core/Convert/ArtworkExtractor.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Readers.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::bytes;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using Facts = std::tuple<std::string, int, int>;

ArtworkExtractor extractor() {
    return ArtworkExtractor{std::make_shared<FFmpegRunner>("/usr/bin/ffmpeg")};
}

std::string textOf(const Bytes& picture) {
    return std::string(picture.begin(), picture.end());
}

// The picture's codec, width and height as ffprobe sees them.
Facts factsOf(const Bytes& picture, const fs::path& file) {
    writeFile(file, textOf(picture));
    const auto stream = testing::ffprobe(file, "stream=codec_name,width,height").at("streams")[0];
    return {stream.at("codec_name"), stream.at("width"), stream.at("height")};
}

TEST(ArtworkExtractor, EmbeddedPictureComesOutAsStoredAndScalesDownToAJPEG) {
    TempDir temp;
    testing::makePicture(temp / "big.png", 1000, 750);
    testing::makePicture(temp / "small.png", 200, 150);
    testing::makeTone(temp / "plain.flac", {.seconds = 0.5});
    fs::create_directories(temp / "album");
    testing::outputOf({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i",
                       (temp / "plain.flac").string(), "-i", (temp / "big.png").string(), "-map",
                       "0", "-map", "1", "-c", "copy", "-disposition:v", "attached_pic",
                       (temp / "album" / "01.flac").string()});
    // A picture file beside the source does not win over the embedded one.
    writeFile(temp / "album" / "cover.jpg", "beside");
    auto embedded = extractor().extract(temp / "album" / "01.flac", {});
    ASSERT_TRUE(embedded);
    EXPECT_EQ(textOf(*embedded), readFile(temp / "big.png"));

    auto scaled = extractor().scale(*embedded, 300, {});
    ASSERT_TRUE(scaled);
    const auto [codec, width, height] = factsOf(*scaled, temp / "scaled.jpg");
    EXPECT_EQ(codec, "mjpeg");
    EXPECT_EQ(width, 300);
    EXPECT_EQ(height % 2, 0);
    EXPECT_NEAR(height, 225, 1);
    // Never enlarged; what is no picture, or a cancelled run, gives none.
    const Bytes small = bytes(readFile(temp / "small.png"));
    auto kept = extractor().scale(small, 300, {});
    ASSERT_TRUE(kept);
    EXPECT_EQ(factsOf(*kept, temp / "small.jpg"), (Facts{"mjpeg", 200, 150}));
    EXPECT_EQ(extractor().scale(bytes("not a picture"), 300, {}), std::nullopt);
    EXPECT_EQ(extractor().scale({}, 300, {}), std::nullopt);
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(extractor().scale(small, 300, stopped.get_token()), std::nullopt);
}

// The source has no embedded picture; what the folder holds decides.
TEST(ArtworkExtractor, CoverFileBesideTheSource) {
    TempDir temp;
    testing::makeTone(temp / "tone.flac", {.seconds = 0.2});
    const std::string twentyMiB(ArtworkExtractor::coverFileLimit, 'j');
    struct Case {
        std::string name;
        std::vector<std::pair<std::string, std::string>> files;  // "|fifo", "|folder" make those
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"first name in order wins", {{"front.jpg", "front"}, {"folder.jpg", "folder"}}, "folder"},
        {"a FIFO is passed over", {{"folder.jpg", "folder"}, {"cover.jpg", "|fifo"}}, "folder"},
        {"a folder is passed over", {{"front.jpg", "front"}, {"cover.jpg", "|folder"}}, "front"},
        {"exactly the limit is read", {{"cover.jpg", twentyMiB}}, twentyMiB},
        {"beyond the limit is passed over",
         {{"cover.jpg", twentyMiB + "j"}, {"front.jpg", "front"}},
         "front"},
    };
    for (const Case& test : cases) {
        const fs::path folder = temp / test.name;
        fs::create_directories(folder);
        fs::copy_file(temp / "tone.flac", folder / "01.flac");
        for (const auto& [name, content] : test.files) {
            if (content == "|fifo") {
                ASSERT_EQ(::mkfifo((folder / name).c_str(), 0600), 0);
            } else if (content == "|folder") {
                fs::create_directory(folder / name);
            } else {
                writeFile(folder / name, content);
            }
        }
        std::optional<Bytes> picture = extractor().extract(folder / "01.flac", {});
        EXPECT_EQ(picture.has_value(), test.expected.has_value()) << test.name;
        if (picture && test.expected) {
            EXPECT_TRUE(textOf(*picture) == *test.expected) << test.name;  // no 20 MiB dump
        }
    }
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(extractor().extract(temp / cases[0].name / "01.flac", stopped.get_token()),
              std::nullopt);
}

}  // namespace
}  // namespace tarvik
