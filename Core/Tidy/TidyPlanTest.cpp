#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "Core/Platform/Json.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyPlan.hpp"

namespace tarvik {
namespace {

using namespace std::chrono;
using testing::TempDir;
using testing::readFile;
using testing::writeFile;

const std::string header =
    "\xEF\xBB\xBF状態,理由,元のパス,新しいパス,元の曲名,新しい曲名,元のアーティスト,"
    "新しいアーティスト,元のアルバム,新しいアルバム,元の番号,新しい番号,タグ書き換え\r\n";

TidyItem item(std::string source, std::string target, std::string oldTitle,
              std::string newTitle) {
    TidyItem it;
    it.source = std::move(source);
    it.target = std::move(target);
    it.old = TrackMeta(std::move(oldTitle), "a band", "a band", "night", "1", "", "2019", "Rock");
    it.new_ = TrackMeta(std::move(newTitle), "A Band", "A Band", "Night", "1", "2", "2019", "Rock");
    it.status = TidyItem::Status::change;
    it.reason = "曲名・アーティスト";
    it.tagsChange = true;
    it.pathChange = it.source != it.target;
    it.tagsEditable = true;
    return it;
}

TidyPlan samplePlan() {
    TidyPlan plan;
    plan.root = "/home/u/Music";
    plan.created = sys_days{year{2026} / 3 / 4} + hours{5} + minutes{6} + seconds{7};
    plan.items.push_back(item("a/b/01 x.mp3", "A/B/01 X.mp3", "x", "X"));
    plan.items.push_back(item("a/b/02 \"q\", y.wav", "a/b/02 \"q\", y.wav", "say \"hi\", y", "Y"));
    plan.items[1].tagsEditable = false;
    plan.items[1].status = TidyItem::Status::hold;
    plan.items[1].reason = "候補が見つかりません";
    plan.items[1].selected = false;
    return plan;
}

TEST(TidyPlan, SavedPlanLoadsEqualAtWholeSeconds) {
    TempDir dir;
    TidyPlan plan = samplePlan();
    plan.created += milliseconds(250);
    const auto file = dir / "deep/er/plan.json";  // folders made on the way
    plan.save(file);
    const TidyPlan loaded = TidyPlan::load(file);
    EXPECT_NE(loaded, plan);
    plan.created = floor<seconds>(plan.created);
    EXPECT_EQ(loaded, plan);

    const std::string text = readFile(file);
    EXPECT_NE(text.find(R"("root": "\/home\/u\/Music")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("created": "2026-03-04T05:06:07Z")"), std::string::npos);
    EXPECT_EQ(text::replacing(text, "\\/", "").find("/"), std::string::npos);
    // Keys sorted at every level.
    EXPECT_LT(text.find("\"created\""), text.find("\"items\""));
    EXPECT_LT(text.find("\"new\""), text.find("\"old\""));
}

TEST(TidyPlan, EmptyPlanSavesAnEmptyListAndItsCSVIsTheHeader) {
    TempDir dir;
    TidyPlan plan;
    plan.root = "/m";
    plan.created = sys_days{year{2026} / 1 / 1};
    plan.save(dir / "p.json");
    EXPECT_EQ(nlohmann::json::parse(readFile(dir / "p.json"))["items"], nlohmann::json::array());
    EXPECT_EQ(TidyPlan::load(dir / "p.json"), plan);
    EXPECT_EQ(plan.csv(), header);
}

TEST(TidyPlan, UnescapedSlashesLoadToo) {
    const TidyPlan plan = samplePlan();
    const std::string plain = text::replacing(plan.json(), "\\/", "/");
    ASSERT_NE(plain, plan.json());
    EXPECT_EQ(TidyPlan::fromJSONText(plain), plan);
}

TEST(TidyPlan, FileThatIsNotAPlanDoesNotLoad) {
    const nlohmann::json good = nlohmann::json::parse(samplePlan().json());
    std::vector<nlohmann::json> bad;
    for (const char* key : {"selected", "source", "new", "tagsEditable"}) {
        bad.push_back(good);
        bad.back()["items"][0].erase(key);
    }
    bad.push_back(good);
    bad.back().erase("root");
    bad.push_back(good);
    bad.back()["items"][0]["status"] = "maybe";
    bad.push_back(good);
    bad.back()["items"][0]["selected"] = "yes";
    bad.push_back(good);
    bad.back()["created"] = "2026-03-04 05:06:07";
    bad.push_back(good);
    bad.back()["items"][1]["old"].erase("genre");
    for (const nlohmann::json& document : bad) {
        EXPECT_THROW(TidyPlan::fromJSONText(document.dump()), DecodingError) << document.dump();
    }
    EXPECT_THROW(TidyPlan::fromJSONText("{\"root\":"), DecodingError);
}

TEST(TidyPlan, FailedSaveKeepsThePreviousPlan) {
    TempDir dir;
    const auto file = dir / "plans/plan.json";
    samplePlan().save(file);
    const std::string before = readFile(file);
    ::chmod((dir / "plans").c_str(), 0500);
    TidyPlan other = samplePlan();
    other.items.clear();
    if (::access((dir / "plans").c_str(), W_OK) != 0) {  // root writes anyway
        EXPECT_THROW(other.save(file), ConversionError);
        EXPECT_EQ(readFile(file), before);
    }
    ::chmod((dir / "plans").c_str(), 0700);
    EXPECT_THROW(TidyPlan::load(dir / "missing.json"), ConversionError);
}

TEST(TidyPlan, CSVQuotesEveryFieldAndEndsEachLineWithCRLF) {
    TidyPlan plan = samplePlan();
    plan.items.push_back(item("c.flac", "c.flac", "same", "same"));
    plan.items[2].tagsChange = false;
    plan.items[2].status = TidyItem::Status::same;
    plan.items[2].reason = "すでに正式な表記です";
    plan.items[0].new_.disc = "3";  // numbers show tracks only
    EXPECT_EQ(plan.csv(),
              header +
                  "\"変更\",\"曲名・アーティスト\",\"a/b/01 x.mp3\",\"A/B/01 X.mp3\",\"x\",\"X\","
                  "\"a band\",\"A Band\",\"night\",\"Night\",\"1\",\"1\",\"する\"\r\n"
                  "\"保留\",\"候補が見つかりません\",\"a/b/02 \"\"q\"\", y.wav\","
                  "\"a/b/02 \"\"q\"\", y.wav\",\"say \"\"hi\"\", y\",\"Y\",\"a band\",\"A Band\","
                  "\"night\",\"Night\",\"1\",\"1\",\"できない形式\"\r\n"
                  "\"そのまま\",\"すでに正式な表記です\",\"c.flac\",\"c.flac\",\"same\",\"same\","
                  "\"a band\",\"A Band\",\"night\",\"Night\",\"1\",\"1\",\"不要\"\r\n");
}

TEST(TidyPlan, StatusViewsAndCandidates) {
    TidyPlan plan = samplePlan();
    plan.items.push_back(item("d.mp3", "e.mp3", "d", "d"));
    plan.items[2].status = TidyItem::Status::hold;
    plan.items[2].reason = "同じ名前になる曲がほかにあります";
    EXPECT_EQ(plan.changeItems().size(), 1u);
    EXPECT_EQ(plan.holdItems().size(), 2u);
    EXPECT_TRUE(plan.sameItems().empty());
    EXPECT_TRUE(plan.hasCandidate(0));
    EXPECT_FALSE(plan.hasCandidate(1));
    EXPECT_TRUE(plan.hasCandidate(2));  // held for a clash: it was matched
    for (auto status : {TidyItem::Status::change, TidyItem::Status::hold, TidyItem::Status::same}) {
        EXPECT_EQ(tidyStatusFromRaw(rawValue(status)), status);
    }
    EXPECT_FALSE(tidyStatusFromRaw("Change"));
}

}  // namespace
}  // namespace tarvik
