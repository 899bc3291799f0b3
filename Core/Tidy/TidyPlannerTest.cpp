#include <gtest/gtest.h>

#include <atomic>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyPlanner.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using E = ConversionEvent;
using testing::RecordingCatalog;
using testing::TempDir;
using testing::writeFile;

// Tags from the names: title from the file (without a "01 " in front),
// album and artist from the folders above it. A file named "unreadable…"
// has tags nobody can read.
std::optional<SourceTags> namesAsTags(const fs::path& file, std::stop_token) {
    if (file.filename().string().starts_with("unreadable")) return std::nullopt;
    const std::string artist = file.parent_path().parent_path().filename().string();
    std::string title = file.stem().string();
    if (title.size() > 3 && title[2] == ' ') title.erase(0, 3);
    return SourceTags{.title = title,
                      .artist = artist,
                      .albumArtist = artist,
                      .album = file.parent_path().filename().string(),
                      .track = "1"};
}

TidyPlanner plannerFor(const fs::path& root, std::shared_ptr<MusicCatalog> catalog = nullptr) {
    TidyPlanner planner{"/nonexistent/ffmpeg", root, {}, std::move(catalog)};
    planner.readTags = namesAsTags;
    return planner;
}

std::vector<E> collect(const TidyPlanner& planner, TidyPlan* plan = nullptr,
                       std::stop_token stop = {}) {
    std::vector<E> events;
    TidyPlan made = planner.plan([&](const E& event) { events.push_back(event); }, stop);
    if (plan) *plan = made;
    return events;
}

TEST(TidyPlanner, NothingToPlanEndsAfterTheScanningEvent) {
    TempDir dir;
    writeFile(dir / "A/B/cover.jpg", "");
    std::vector<E> events;
    try {
        plannerFor(dir.path()).plan([&](const E& event) { events.push_back(event); }, {});
        FAIL() << "planned nothing";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "対象の曲が見つかりません。");
    }
    EXPECT_EQ(events, std::vector<E>{E::scanning()});
}

TEST(TidyPlanner, ReadingEventsEveryFiftyFilesAndOneLookupPerAlbum) {
    for (int count : {49, 120}) {
        TempDir dir;
        for (int i = 0; i < count; ++i) {
            writeFile(dir / (i % 2 ? "Two/Beta" : "One/Alpha") / ("t" + std::to_string(1000 + i) + ".mp3"), "");
        }
        TidyPlan plan;
        const std::vector<E> events = collect(plannerFor(dir.path()), &plan);
        std::vector<E> expected{E::scanning()};
        if (count == 120) {
            expected.push_back(E::reading(50, 120));
            expected.push_back(E::reading(100, 120));
        }
        // The scanner lists "One" before "Two".
        expected.push_back(E::lookingUp(1, 2, "One / Alpha"));
        expected.push_back(E::lookingUp(2, 2, "Two / Beta"));
        EXPECT_EQ(events, expected) << count;
        EXPECT_EQ(plan.items.size(), static_cast<std::size_t>(count));
        EXPECT_EQ(plan.root, dir.path().string());
    }
}

TEST(TidyPlanner, CatalogueMatchDecidesBetweenSameAndHold) {
    TempDir dir;
    writeFile(dir / "A Band/Night/01 Sunrise.mp3", "");
    writeFile(dir / "A Band/Other/01 Unknown.mp3", "");
    writeFile(dir / "A Band/Other/unreadable.mp3", "");
    auto catalog = std::make_shared<RecordingCatalog>();
    catalog->songs["A Band|Sunrise"] = {{.wrapperType = "track",
                                            .artistName = "A Band",
                                            .collectionName = "Night",
                                            .collectionArtistName = "A Band",
                                            .collectionId = 1,
                                            .trackName = "Sunrise",
                                            .trackNumber = 1,
                                            .discNumber = 1}};
    TidyPlan plan;
    collect(plannerFor(dir.path(), catalog), &plan);
    ASSERT_EQ(plan.items.size(), 3u);
    EXPECT_EQ(plan.items[0].status, TidyItem::Status::same);
    EXPECT_EQ(plan.items[0].reason, "すでに正式な表記です");
    EXPECT_EQ(plan.items[1].status, TidyItem::Status::hold);
    EXPECT_EQ(plan.items[1].reason, "候補が見つかりません");
    EXPECT_EQ(plan.items[2].reason, unreadableTagsReason);
    // The unreadable file is asked about by nobody.
    for (const std::string& question : catalog->questions()) {
        EXPECT_EQ(question.find("unreadable"), std::string::npos) << question;
    }
}

TEST(TidyPlanner, StopEndsThePlanWithoutAPlan) {
    TempDir dir;
    for (const char* album : {"A/One/x.mp3", "A/Two/y.mp3", "A/Three/z.mp3"}) {
        writeFile(dir / album, "");
    }
    std::stop_source stop;
    TidyPlanner planner = plannerFor(dir.path());
    std::vector<E> events;
    EXPECT_THROW(planner.plan(
                     [&](const E& event) {
                         events.push_back(event);
                         if (event.phaseAs<E::Phase::LookingUp>()) stop.request_stop();
                     },
                     stop.get_token()),
                 Cancelled);
    EXPECT_EQ(events.size(), 2u);  // scanning, the first album

    std::stop_source early;
    early.request_stop();
    EXPECT_THROW(planner.plan({}, early.get_token()), Cancelled);
}

TEST(TidyPlanner, ReadsFourAtATimeAndPassesOnAFailedRead) {
    TempDir dir;
    for (int i = 0; i < 12; ++i) writeFile(dir / "A/B" / ("f" + std::to_string(i) + ".mp3"), "");
    testing::CountingFFmpeg ffmpeg(dir / "ffmpeg-stand-in");
    TidyPlanner planner{ffmpeg.program, dir / "A", {}, nullptr};
    TidyPlan plan = planner.plan({}, {});
    EXPECT_EQ(plan.items.size(), 12u);
    EXPECT_EQ(ffmpeg.peak(), 4);

    planner = plannerFor(dir.path());
    std::atomic<int> reads = 0;
    planner.readTags = [&](const fs::path& file, std::stop_token) -> std::optional<SourceTags> {
        if (++reads == 3) throw std::runtime_error("reader broke: " + file.filename().string());
        return SourceTags{};
    };
    EXPECT_THROW(planner.plan({}, {}), std::runtime_error);
}

}  // namespace
}  // namespace tarvik
