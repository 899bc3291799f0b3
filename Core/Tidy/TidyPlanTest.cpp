#include <gtest/gtest.h>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyPlan.hpp"

namespace tarvik {
namespace {

using namespace std::chrono;
using testing::readFile;
using Status = TidyItem::Status;

TidyItem item(const std::string& source, const std::string& target, const std::string& title,
              Status status, const std::string& reason) {
    const TrackMeta old(title, "a band", "a band", "night", "1", "", "2019", "Rock");
    const TrackMeta corrected("Y", "A Band", "A Band", "Night", "1", "2", "2019", "Rock");
    return {source, target, old, corrected, status, reason, true, source != target,
            !source.ends_with(".wav"), status != Status::hold};
}

// Commas, quotes and a disc number the report leaves out.
const TidyPlan sample{"/home/u/Music", sys_days{year{2026} / 3 / 4} + 5h + 6min + 7s,
                      {item("a/01 x.mp3", "A/01 Y.mp3", "x", Status::change, "曲名・アーティスト"),
                       item("a/\"q\", y.wav", "a/\"q\", y.wav", "say \"hi\", y", Status::hold,
                            "候補が見つかりません")}};

TEST(TidyPlan, SavedPlanLoadsEqualAtWholeSecondsAndAFailedSaveKeepsIt) {
    const testing::TempDir dir;
    const auto file = dir / "deep/er/plan.json";  // folders made on the way
    TidyPlan exact = sample;
    exact.created += 250ms;
    exact.save(file);
    EXPECT_EQ(TidyPlan::load(file), sample);
    EXPECT_EQ(TidyPlan::fromJSONText(text::replacing(sample.json(), "\\/", "/")), sample);
    const std::string text = readFile(file);
    EXPECT_EQ(text::replacing(text, "\\/", "").find("/"), std::string::npos);
    const testing::FileSizeLimit limit(16);  // a full disk, for root too
    ASSERT_TRUE(limit.active());
    EXPECT_THROW((TidyPlan{"/m", {}, {}}.save(file)), ConversionError);
    EXPECT_EQ(readFile(file), text);
}

TEST(TidyPlan, ReportIsQuotedCSV) {
    EXPECT_EQ(sample.csv(),
              "\xEF\xBB\xBF状態,理由,元のパス,新しいパス,元の曲名,新しい曲名,元のアーティスト,"
              "新しいアーティスト,元のアルバム,新しいアルバム,元の番号,新しい番号,タグ書き換え\r\n"
              "\"変更\",\"曲名・アーティスト\",\"a/01 x.mp3\",\"A/01 Y.mp3\",\"x\",\"Y\","
              "\"a band\",\"A Band\",\"night\",\"Night\",\"1\",\"1\",\"する\"\r\n"
              "\"保留\",\"候補が見つかりません\",\"a/\"\"q\"\", y.wav\",\"a/\"\"q\"\", y.wav\","
              "\"say \"\"hi\"\", y\",\"Y\",\"a band\",\"A Band\",\"night\",\"Night\",\"1\",\"1\","
              "\"できない形式\"\r\n");
}

TEST(TidyPlan, FileThatIsNotAPlanDoesNotLoad) {
    const nlohmann::json good = nlohmann::json::parse(sample.json());
    for (const char* change : {R"({"op":"remove","path":"/items/0/selected"})",
                               R"({"op":"replace","path":"/items/0/status","value":"maybe"})",
                               R"({"op":"replace","path":"/created","value":"2026-03-04"})"}) {
        const auto bad = good.patch(nlohmann::json::array({nlohmann::json::parse(change)})).dump();
        EXPECT_THROW(TidyPlan::fromJSONText(bad), DecodingError) << change;
    }
    EXPECT_THROW(TidyPlan::fromJSONText("{\"root\":"), DecodingError);
    EXPECT_THROW(TidyPlan::load("/nonexistent/plan.json"), ConversionError);
}

}  // namespace
}  // namespace tarvik
