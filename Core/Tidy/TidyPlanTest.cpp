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
using testing::TempDir;
using testing::readFile;
using Status = TidyItem::Status;

const std::string header =
    "\xEF\xBB\xBF状態,理由,元のパス,新しいパス,元の曲名,新しい曲名,元のアーティスト,"
    "新しいアーティスト,元のアルバム,新しいアルバム,元の番号,新しい番号,タグ書き換え\r\n";

TidyItem item(const std::string& source, const std::string& target, const std::string& oldTitle,
              const std::string& newTitle, Status status, const std::string& reason) {
    const TrackMeta old(oldTitle, "a band", "a band", "night", "1", "", "2019", "Rock");
    const TrackMeta corrected(newTitle, "A Band", "A Band", "Night", "1", "2", "2019", "Rock");
    return {source, target, old, corrected, status, reason, status != Status::same,
            source != target, !source.ends_with(".wav"), status != Status::hold};
}

// Every kind of item, and a CSV line for each: the comma, quotes and a
// disc number the report leaves out.
TidyPlan samplePlan() {
    return {"/home/u/Music", sys_days{year{2026} / 3 / 4} + 5h + 6min + 7s,
            {item("a/b/01 x.mp3", "A/B/01 X.mp3", "x", "X", Status::change, "曲名・アーティスト"),
             item("a/b/02 \"q\", y.wav", "a/b/02 \"q\", y.wav", "say \"hi\", y", "Y", Status::hold,
                  "候補が見つかりません"),
             item("c.flac", "c.flac", "same", "same", Status::same, "すでに正式な表記です"),
             item("d.mp3", "e.mp3", "d", "d", Status::hold, "同じ名前になる曲がほかにあります")}};
}

const std::string sampleCSV =
    header +
    "\"変更\",\"曲名・アーティスト\",\"a/b/01 x.mp3\",\"A/B/01 X.mp3\",\"x\",\"X\","
    "\"a band\",\"A Band\",\"night\",\"Night\",\"1\",\"1\",\"する\"\r\n"
    "\"保留\",\"候補が見つかりません\",\"a/b/02 \"\"q\"\", y.wav\","
    "\"a/b/02 \"\"q\"\", y.wav\",\"say \"\"hi\"\", y\",\"Y\",\"a band\",\"A Band\","
    "\"night\",\"Night\",\"1\",\"1\",\"できない形式\"\r\n"
    "\"そのまま\",\"すでに正式な表記です\",\"c.flac\",\"c.flac\",\"same\",\"same\","
    "\"a band\",\"A Band\",\"night\",\"Night\",\"1\",\"1\",\"不要\"\r\n"
    "\"保留\",\"同じ名前になる曲がほかにあります\",\"d.mp3\",\"e.mp3\",\"d\",\"d\","
    "\"a band\",\"A Band\",\"night\",\"Night\",\"1\",\"1\",\"する\"\r\n";

TEST(TidyPlan, SavedPlanLoadsEqualAtWholeSecondsAndReportsAsCSV) {
    TempDir dir;
    for (const TidyPlan& plan : {samplePlan(), TidyPlan{"/m", sys_days{year{2026} / 1 / 1}, {}}}) {
        TidyPlan exact = plan;
        exact.created += 250ms;
        const auto file = dir / "deep/er/plan.json";  // folders made on the way
        exact.save(file);
        EXPECT_EQ(TidyPlan::load(file), plan);
        EXPECT_EQ(TidyPlan::fromJSONText(text::replacing(plan.json(), "\\/", "/")), plan);
        EXPECT_EQ(plan.csv(), plan.items.empty() ? header : sampleCSV);
        const std::string text = readFile(file);
        EXPECT_EQ(text::replacing(text, "\\/", "").find("/"), std::string::npos);
        EXPECT_LT(text.find("\"created\""), text.find("\"items\""));  // keys sorted
    }
    // Held for a clash, an item was matched; held for want of one, not.
    const TidyPlan plan = samplePlan();
    EXPECT_TRUE(plan.hasCandidate(0) && !plan.hasCandidate(1) && plan.hasCandidate(3));
    const std::string text = readFile(dir / "deep/er/plan.json");
    EXPECT_NE(text.find(R"("items": [])"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("created": "2026-01-01T00:00:00Z")"), std::string::npos);
}

TEST(TidyPlan, FileThatIsNotAPlanDoesNotLoad) {
    const nlohmann::json good = nlohmann::json::parse(samplePlan().json());
    for (const char* change :
         {R"({"op":"remove","path":"/items/0/selected"})",
          R"({"op":"remove","path":"/items/0/source"})", R"({"op":"remove","path":"/items/0/new"})",
          R"({"op":"remove","path":"/items/0/tagsEditable"})",
          R"({"op":"remove","path":"/root"})", R"({"op":"remove","path":"/items/1/old/genre"})",
          R"({"op":"replace","path":"/items/0/status","value":"maybe"})",
          R"({"op":"replace","path":"/items/0/selected","value":"yes"})",
          R"({"op":"replace","path":"/created","value":"2026-03-04 05:06:07"})"}) {
        const auto bad = good.patch(nlohmann::json::array({nlohmann::json::parse(change)})).dump();
        EXPECT_THROW(TidyPlan::fromJSONText(bad), DecodingError) << change;
    }
    EXPECT_THROW(TidyPlan::fromJSONText("{\"root\":"), DecodingError);
    EXPECT_THROW(TidyPlan::load("/nonexistent/plan.json"), ConversionError);
}

TEST(TidyPlan, FailedSaveKeepsThePreviousPlan) {
    TempDir dir;
    samplePlan().save(dir / "plan.json");
    const std::string before = readFile(dir / "plan.json");
    testing::FileSizeLimit limit(16);  // a full disk, for root too
    ASSERT_TRUE(limit.active());
    EXPECT_THROW((TidyPlan{"/m", {}, {}}.save(dir / "plan.json")), ConversionError);
    EXPECT_EQ(readFile(dir / "plan.json"), before);
}

}  // namespace
}  // namespace tarvik
