// The planner on files that ffmpeg made, read through the real tag probe.
#include <gtest/gtest.h>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyPlanner.hpp"

namespace tarvik {
namespace {

using testing::TempDir;

TEST(TidyPlannerFiles, PlansRealFilesAndHoldsOneItCannotRead) {
    TempDir dir;
    const auto music = dir / "Music";
    testing::makeTone(music / "A Band/Night/01 Song.flac",
                      {.seconds = 0.2,
                       .metadata = {{"title", "Song"}, {"artist", "A Band"},
                                    {"album_artist", "A Band"}, {"album", "Night"},
                                    {"track", "1"}}});
    testing::makeTone(music / "A Band/Night/take2.mp3",
                      {.seconds = 0.2,
                       .metadata = {{"title", "Other"}, {"artist", "A Band"},
                                    {"album_artist", "A Band"}, {"album", "Night"},
                                    {"track", "02/12"}}});
    testing::writeFile(music / "A Band/Night/broken.m4a", "not audio at all");

    TidyPlanner planner{"/usr/bin/ffmpeg", music, {"A Band"},
                        std::make_shared<testing::RecordingCatalog>()};
    const TidyPlan plan = planner.plan({}, {});
    ASSERT_EQ(plan.items.size(), 3u);
    std::map<std::string, TidyItem> bySource;
    for (const TidyItem& item : plan.items) bySource[item.source] = item;

    const TidyItem& song = bySource.at("A Band/Night/01 Song.flac");
    EXPECT_EQ(song.status, TidyItem::Status::hold);
    EXPECT_EQ(song.reason, "候補が見つかりません");
    const TidyItem& take = bySource.at("A Band/Night/take2.mp3");
    EXPECT_EQ(take.status, TidyItem::Status::change);
    EXPECT_EQ(take.target, "A Band/Night/02 Other.mp3");
    EXPECT_EQ(take.old.track, "2");
    const TidyItem& broken = bySource.at("A Band/Night/broken.m4a");
    EXPECT_EQ(broken.status, TidyItem::Status::hold);
    EXPECT_EQ(broken.reason, unreadableTagsReason);
}

}  // namespace
}  // namespace tarvik
