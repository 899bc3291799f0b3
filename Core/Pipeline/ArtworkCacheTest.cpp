#include <gtest/gtest.h>

#include <atomic>

#include "Core/Pipeline/ArtworkCache.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// The real ffmpeg, counting scalings (a picture fed in) and extractions.
struct CountingRunner : FFmpegRunner {
    CountingRunner() : FFmpegRunner("/usr/bin/ffmpeg") {}
    Output runRaw(const std::vector<std::string>& arguments, const std::optional<Bytes>& input,
                  std::stop_token stop) const override {
        ++(std::ranges::count(arguments, "pipe:0") ? scalings : extractions);
        return FFmpegRunner::runRaw(arguments, input, std::move(stop));
    }
    mutable std::atomic<int> extractions{0}, scalings{0};
};

TEST(ArtworkCache, SearchGoesFileByFileUntilAPictureScalesAndEachAlbumIsSearchedOnce) {
    TempDir temp;
    makePicture(temp / "640.png", 640, 480);
    makeTone(temp / "f.flac", {.seconds = 0.2});
    runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", (temp / "f.flac").string(), "-i",
                (temp / "640.png").string(), "-map", "0", "-map", "1", "-c", "copy",
                "-disposition:v", "attached_pic", (temp / "t.flac").string()});
    // Which of a/0, a/1, b/2 hold the picture, their albums, a cover beside
    // a/ (damaged, 200 pixels wide or none), pictures wanted; the width
    // found, extractions, scalings.
    using Case = std::tuple<std::string, std::string, std::string, bool, int, int, int>;
    for (const auto& [covered, albums, cover, enabled, width, extractions, scalings] :
         {Case{"ttt", "000", "", false, 0, 0, 0}, Case{"fff", "000", "", true, 0, 3, 0},
          Case{"fft", "000", "damaged", true, 300, 3, 3},
          Case{"fff", "011", "200", true, 200, 2, 2}}) {
        const fs::path at = temp / (covered + albums + cover);
        std::vector<ConversionPlan::Item> items;
        for (std::size_t i = 0; i < 3; ++i) {
            const fs::path source = at / (i < 2 ? "a" : "b") / (std::to_string(i) + ".flac");
            fs::create_directories(source.parent_path());
            fs::copy_file(temp / (covered.substr(i, 1) + ".flac"), source);
            items.push_back({source, {}, {}, {}, albums[i] - '0'});
        }
        if (cover == "damaged") writeFile(at / "a/cover.jpg", "damaged");
        if (cover == "200") makePicture(at / "a/cover.jpg", 200, 150);
        const auto runner = std::make_shared<CountingRunner>();
        ArtworkCache cache(ArtworkExtractor{runner}, 300, enabled);
        const std::optional<Bytes> found = cache.artwork(items[1], items);
        EXPECT_EQ(found.has_value(), width != 0) << at;
        // The album's other tracks are answered from memory, also when it has no picture.
        EXPECT_EQ(cache.artwork(items[2], items), found) << at;
        EXPECT_EQ(cache.artwork(items[0], items).has_value(), width != 0) << at;
        EXPECT_EQ(runner->extractions, extractions) << at;
        EXPECT_EQ(runner->scalings, scalings) << at;
        if (!found) continue;
        writeFile(at / "got.jpg", std::string(found->begin(), found->end()));
        EXPECT_EQ(runCommand({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width",
                              "-of", "csv=p=0", (at / "got.jpg").string()})
                      .output,
                  "mjpeg," + std::to_string(width) + "\n");
    }
}

}  // namespace
}  // namespace tarvik
