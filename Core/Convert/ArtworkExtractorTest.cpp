#include "Core/Convert/ArtworkExtractor.hpp"
#include "Core/Convert/ConvertTesting.hpp"

namespace tarvik {
namespace {

using nlohmann::json;

ArtworkExtractor extractor() {
    return ArtworkExtractor{std::make_shared<FFmpegRunner>("/usr/bin/ffmpeg")};
}

// The picture's codec and size as ffprobe sees them.
std::string factsOf(const Bytes& picture, const fs::path& file) {
    writeFile(file, std::string(picture.begin(), picture.end()));
    const json stream = testing::ffprobe(file, "stream=codec_name,width,height")["streams"][0];
    return stream["codec_name"].get<std::string>() + " " + stream["width"].dump() + "x" +
           stream["height"].dump();
}

// Scaled to the width with an even height, never enlarged; what is no
// picture, or a cancelled run, gives none.
TEST(ArtworkExtractor, EmbeddedPictureOrCoverFileBesideScaledDownToAJPEG) {
    TempDir temp;
    testing::makePicture(temp / "big.png", 1000, 750);
    testing::makePicture(temp / "small.png", 200, 150);
    testing::makeTone(temp / "plain.flac", {.seconds = 0.5});
    testing::outputOf({"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                       (temp / "plain.flac").string(), "-i", (temp / "big.png").string(), "-map",
                       "0", "-map", "1", "-c", "copy", "-disposition:v", "attached_pic",
                       (temp / "01.flac").string()});
    writeFile(temp / "cover.jpg", "beside");  // does not win over the embedded picture
    const Bytes embedded = extractor().extract(temp / "01.flac", {}).value();
    EXPECT_EQ(embedded, bytes(readFile(temp / "big.png")));
    const std::string scaled =
        factsOf(extractor().scale(embedded, 300, {}).value(), temp / "a.jpg");
    EXPECT_TRUE(scaled == "mjpeg 300x224" || scaled == "mjpeg 300x226") << scaled;
    const Bytes small = bytes(readFile(temp / "small.png"));
    EXPECT_EQ(factsOf(extractor().scale(small, 300, {}).value(), temp / "b.jpg"), "mjpeg 200x150");
    EXPECT_EQ(extractor().scale(bytes("not a picture"), 300, {}), std::nullopt);
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(extractor().scale(small, 300, stopped.get_token()), std::nullopt);
    EXPECT_EQ(extractor().extract(temp / "01.flac", stopped.get_token()), std::nullopt);

    // Without an embedded picture, what the folder holds decides: the first
    // name in order, passing over a FIFO, a folder and a file beyond the limit.
    const std::string twentyMiB(ArtworkExtractor::coverFileLimit, 'j');
    using Files =
        std::vector<std::pair<std::string, std::string>>;  // "|fifo", "|folder" make those
    const std::vector<std::pair<Files, std::string>> cases = {
        {{{"front.jpg", "front"}, {"folder.jpg", "folder"}}, "folder"},
        {{{"folder.jpg", "folder"}, {"cover.jpg", "|fifo"}}, "folder"},
        {{{"front.jpg", "front"}, {"cover.jpg", "|folder"}}, "front"},
        {{{"cover.jpg", twentyMiB}}, twentyMiB},
        {{{"cover.jpg", twentyMiB + "j"}, {"front.jpg", "front"}}, "front"}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const fs::path folder = temp / std::to_string(i);
        fs::create_directories(folder);
        fs::copy_file(temp / "plain.flac", folder / "01.flac");
        for (const auto& [name, content] : cases[i].first) {
            if (content == "|fifo") ::mkfifo((folder / name).c_str(), 0600);
            if (content == "|folder") fs::create_directory(folder / name);
            if (!content.starts_with("|")) writeFile(folder / name, content);
        }
        std::optional<Bytes> picture = extractor().extract(folder / "01.flac", {});
        EXPECT_TRUE(picture == bytes(cases[i].second)) << i;  // no 20 MiB dump
    }
}

}  // namespace
}  // namespace tarvik
