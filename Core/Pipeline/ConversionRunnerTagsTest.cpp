#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using E = ConversionEvent;
using testing::CountingFFmpeg;
using testing::TempDir;

// Paths only: the stand-in never opens them.
std::vector<fs::path> numberedFiles(const fs::path& folder, std::size_t count) {
    std::vector<fs::path> files;
    for (std::size_t i = 0; i < count; ++i) {
        files.push_back(folder / "Artist" / "Album" / ("t" + std::to_string(i) + ".flac"));
        testing::writeFile(files.back(), "fLaC");  // only regular files reach ffmpeg
    }
    return files;
}

std::vector<E> readAndCollect(const std::vector<fs::path>& files, const fs::path& program,
                              std::vector<TrackMeta>* records = nullptr) {
    std::vector<E> events;
    auto read = ConversionRunner::readTags(files, std::make_shared<FFmpegRunner>(program),
                                           [&](const E& event) { events.push_back(event); }, {});
    if (records) *records = std::move(read);
    return events;
}

TEST(TagReading, KeepsFourReadsInFlightAndNeverMore) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg");
    const auto files = numberedFiles(temp.path(), 22);
    std::vector<TrackMeta> records;
    readAndCollect(files, ffmpeg.program, &records);
    EXPECT_EQ(ffmpeg.peak(), 4);

    // Whatever order the reads finished in, each record sits at its file's place.
    ASSERT_EQ(records.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(records[i].title, "t" + std::to_string(i));
        EXPECT_EQ(records[i].album, "Album");
    }
}

TEST(TagReading, ReportsEveryFiftiethFileAndNothingForTheRest) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    struct Case {
        std::size_t files;
        std::vector<E> expected;
    };
    const std::vector<Case> cases = {
        {0, {}},
        {3, {}},
        {49, {}},
        {50, {E::reading(50, 50)}},
        {120, {E::reading(50, 120), E::reading(100, 120)}},
    };
    for (const Case& test : cases) {
        std::vector<TrackMeta> records;
        EXPECT_EQ(readAndCollect(numberedFiles(temp.path(), test.files), ffmpeg.program, &records),
                  test.expected)
            << test.files;
        EXPECT_EQ(records.size(), test.files);
    }
}

}  // namespace
}  // namespace tarvik
