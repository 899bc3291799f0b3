#include <gtest/gtest.h>

#include "Core/Platform/Json.hpp"

namespace tarvik::json {
namespace {

using Kind = DecodingError::Kind;

TEST(Json, EachDecodingErrorKindNamesItsPath) {
    const nlohmann::json document = parse(R"({
        "files": {"root": 5, "gone": null, "name": "x"},
        "list": [1, "two"],
        "count": 1.5,
        "flag": true
    })");
    const ObjectReader top(document);
    const std::vector<std::tuple<std::function<void()>, Kind, std::string>> cases = {
        {[&] { top.object("files").string("missing"); }, Kind::keyNotFound, "files.missing"},
        {[&] { top.object("files").string("root"); }, Kind::typeMismatch, "files.root"},
        {[&] { top.object("files").integer("gone"); }, Kind::valueNotFound, "files.gone"},
        {[&] { top.integer("count"); }, Kind::dataCorrupted, "count"},
        {[&] { top.object("flag"); }, Kind::typeMismatch, "flag"},
        {[&] { top.array("files"); }, Kind::typeMismatch, "files"},
        {[&] { top.optionalString("flag"); }, Kind::typeMismatch, "flag"},
        {[&] { asInteger(top.array("list")[1], "list[1]"); }, Kind::typeMismatch, "list[1]"},
        {[&] { parse("{\"a\": "); }, Kind::dataCorrupted, ""},
        // The library reports numbers beyond a double as out of range, not as
        // a parse error; they are bad data all the same.
        {[&] { parse("1e400"); }, Kind::dataCorrupted, ""},
        {[&] { parse("{\"n\": -1e400}"); }, Kind::dataCorrupted, ""},
        {[&] { ObjectReader(parse("[1]")); }, Kind::typeMismatch, ""},
    };
    for (const auto& [read, kind, path] : cases) {
        try {
            read();
            ADD_FAILURE() << path << " did not throw";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), kind) << path;
            EXPECT_EQ(error.codingPath(), path);
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
        }
    }
}

TEST(Json, OptionalMembersTreatNullAsAbsent) {
    const nlohmann::json document = parse(R"({"a": null, "b": 7, "c": {"d": true}, "e": 192.0})");
    const ObjectReader top(document);
    EXPECT_EQ(top.optionalInteger("a"), std::nullopt);
    EXPECT_EQ(top.optionalInteger("zz"), std::nullopt);
    EXPECT_EQ(top.optionalInteger("b"), 7);
    EXPECT_FALSE(top.optionalObject("a"));
    EXPECT_EQ(top.optionalObject("c")->boolean("d"), true);
    EXPECT_EQ(top.integer("e"), 192);
    EXPECT_TRUE(top.contains("a") && !top.hasValue("a"));
}

// Stored files keep one shape: sorted keys, two spaces, slashes and text as
// they are, a final line break.
TEST(Json, PrettyFormSortsKeysAndKeepsSlashesAndText) {
    const nlohmann::json value = {{"zeta", "a/b"}, {"alpha", {{"y", 1}, {"x", "\u30C6"}}}};
    EXPECT_EQ(
        pretty(value),
        "{\n  \"alpha\": {\n    \"x\": \"\u30C6\",\n    \"y\": 1\n  },\n  \"zeta\": \"a/b\"\n}\n");
}

}  // namespace
}  // namespace tarvik::json
