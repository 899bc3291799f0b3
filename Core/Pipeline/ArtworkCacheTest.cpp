#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <nlohmann/json.hpp>

#include "Core/Pipeline/ArtworkCache.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// The real ffmpeg, counting picture extractions and scalings.
class CountingRunner : public FFmpegRunner {
public:
    CountingRunner() : FFmpegRunner("/usr/bin/ffmpeg") {}

    Output runRaw(const std::vector<std::string>& arguments, const std::optional<Bytes>& input,
                  std::stop_token stop) const override {
        ++(std::find(arguments.begin(), arguments.end(), "pipe:0") != arguments.end()
               ? scalings
               : extractions);
        return FFmpegRunner::runRaw(arguments, input, std::move(stop));
    }

    mutable std::atomic<int> extractions{0};
    mutable std::atomic<int> scalings{0};
};

class ArtworkCacheTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared_ = new TempDir();
        makePicture(*shared_ / "640.png", 640, 480);
        makeTones({{*shared_ / "plain.flac", {.seconds = 0.2}}});
        makeTones({{*shared_ / "covered.flac", {.seconds = 0.2}}}, *shared_ / "640.png");
    }
    static void TearDownTestSuite() { delete shared_; }

    // An item of `album` from a track without a picture, or with the 640-pixel one embedded.
    static ConversionPlan::Item item(const fs::path& source, std::int64_t album, bool covered) {
        fs::create_directories(source.parent_path());
        fs::copy_file(*shared_ / (covered ? "covered.flac" : "plain.flac"), source);
        return {.source = source,
                .meta = {},
                .key = source.string(),
                .relativePath = {},
                .albumIndex = album};
    }

    static TempDir* shared_;
    std::shared_ptr<CountingRunner> runner_ = std::make_shared<CountingRunner>();
    TempDir temp_;
};

TempDir* ArtworkCacheTest::shared_ = nullptr;

TEST_F(ArtworkCacheTest, SearchGoesFileByFileUntilAPictureScalesAndIsMadeOnce) {
    struct Case {
        std::string name;
        std::array<bool, 3> covered;  // "a/1.flac", "a/2.flac", "b/3.flac"
        bool damagedCoverInA;
        bool enabled;
        std::optional<int> width;
        int extractions;
        int scalings;
    };
    const std::vector<Case> cases = {
        {"pictures not wanted", {true, true, true}, false, false, std::nullopt, 0, 0},
        {"no picture anywhere: one try per file",
         {false, false, false},
         false,
         true,
         std::nullopt,
         3,
         0},
        {"a damaged cover moves on to the next file", {false, false, true}, true, true, 300, 3, 3},
    };
    for (const Case& test : cases) {
        const fs::path at = temp_ / test.name;
        const std::vector<ConversionPlan::Item> items = {item(at / "a/1.flac", 0, test.covered[0]),
                                                         item(at / "a/2.flac", 0, test.covered[1]),
                                                         item(at / "b/3.flac", 0, test.covered[2])};
        if (test.damagedCoverInA) writeFile(at / "a" / "cover.jpg", "damaged");
        ArtworkCache cache(ArtworkExtractor{runner_}, 300, test.enabled);
        runner_->extractions = 0;
        runner_->scalings = 0;

        const std::optional<Bytes> first = cache.artwork(items[1], items);
        EXPECT_EQ(first.has_value(), test.width.has_value()) << test.name;
        if (first && test.width) {
            // The width of the JPEG, read back by ffprobe.
            writeFile(at / "got.jpg", std::string(first->begin(), first->end()));
            const auto stream = nlohmann::json::parse(
                runCommand({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width",
                            "-of", "json", (at / "got.jpg").string()})
                    .output)["streams"][0];
            EXPECT_EQ(stream["codec_name"], "mjpeg");
            EXPECT_EQ(stream["width"], *test.width) << test.name;
        }
        // The album's other tracks are answered from memory, also when it has no picture.
        EXPECT_EQ(cache.artwork(items[2], items), first) << test.name;
        EXPECT_EQ(runner_->extractions, test.extractions) << test.name;
        EXPECT_EQ(runner_->scalings, test.scalings) << test.name;
    }
}

TEST_F(ArtworkCacheTest, AlbumsInOneFolderKeepTheirOwnSearch) {
    const std::vector<ConversionPlan::Item> items = {item(temp_ / "mixed/1.flac", 0, false),
                                                     item(temp_ / "mixed/2.flac", 1, false)};
    makePicture(temp_ / "mixed" / "cover.jpg", 200, 150);
    ArtworkCache cache(ArtworkExtractor{runner_}, 300, true);
    EXPECT_TRUE(cache.artwork(items[0], items).has_value());
    EXPECT_TRUE(cache.artwork(items[1], items).has_value());
    EXPECT_EQ(runner_->extractions, 2);
    EXPECT_EQ(runner_->scalings, 2);
}

}  // namespace
}  // namespace tarvik
