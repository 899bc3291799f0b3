#include <gtest/gtest.h>

#include "App/Platform/Settings.hpp"
#include "App/Testing/AppTesting.hpp"

namespace tarvik {
namespace {

using testing::writeFile;

TEST(SettingsTest, WrittenValuesComeBackWithTheirTypeInAFreshReader) {
    testing::ScopedXdg xdg;
    const std::vector<std::string> texts = {
        "",           "/音楽/アーティスト　A", "a, b",       "semi;colon",
        "\"quoted\"", "back\\slash",           "@Invalid()", "=equals=",
        " padded ",   "#not a comment"};
    const std::vector<std::vector<std::string>> lists = {
        {}, {"one"}, {"A, B"}, {""}, {"@at", "トラック", "a,b", "semi;colon"}};
    std::unique_ptr<Settings> writer = xdg.settings();
    for (std::size_t i = 0; i < texts.size(); ++i)
        writer->setString("text" + std::to_string(i), texts[i]);
    for (std::size_t i = 0; i < lists.size(); ++i)
        writer->setStringList("list" + std::to_string(i), lists[i]);
    writer->setBoolean("no", false);
    writer->setNumber("loudness", -16.5);

    // Every write is on disk already: a second reader sees it.
    std::unique_ptr<Settings> reader = xdg.settings();
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(reader->string("text" + std::to_string(i)), texts[i]) << i;
    for (std::size_t i = 0; i < lists.size(); ++i)
        EXPECT_EQ(reader->stringList("list" + std::to_string(i)), lists[i]) << i;
    EXPECT_EQ(reader->boolean("no"), false);
    EXPECT_EQ(reader->number("loudness"), -16.5);
    EXPECT_EQ(reader->stringList("absent"), std::nullopt);
}

TEST(SettingsTest, HandWrittenValuesAreReadByTypeOrNotAtAll) {
    testing::ScopedXdg xdg;
    writeFile(xdg.config() / "Tarvik" / "Tarvik.conf",
              "[General]\nt1=true\nt2= TRUE \nt3=1\nf1=false\nf2=0\nb1=yes\nb2=2\n"
              "n1=-14\nn2=1e1\nn3=-16,5\nn4=nan\nn5=inf\nn6=\nl1=a, b\nl2=\"a, b\"\n");
    const std::unique_ptr<Settings> settings = xdg.settings();
    const std::vector<std::pair<std::string, std::optional<bool>>> booleans = {
        {"t1", true},  {"t2", true},         {"t3", true},         {"f1", false},
        {"f2", false}, {"b1", std::nullopt}, {"b2", std::nullopt}, {"l1", std::nullopt}};
    for (const auto& [key, expected] : booleans) EXPECT_EQ(settings->boolean(key), expected) << key;
    const std::vector<std::pair<std::string, std::optional<double>>> numbers = {
        {"n1", -14.0},        {"n2", 10.0},         {"n3", std::nullopt}, {"n4", std::nullopt},
        {"n5", std::nullopt}, {"n6", std::nullopt}, {"t1", std::nullopt}};
    for (const auto& [key, expected] : numbers) EXPECT_EQ(settings->number(key), expected) << key;
    EXPECT_EQ(settings->string("l1"), std::nullopt);
    EXPECT_EQ(settings->string("l2"), "a, b");
    EXPECT_EQ(settings->stringList("l1"), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace tarvik
