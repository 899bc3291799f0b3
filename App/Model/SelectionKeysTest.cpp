#include <gtest/gtest.h>

#include "App/Model/SelectionKeys.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

// A UTF-8 key is stored as it is (older settings read the same); any other is
// stored as valid text and read back to the same bytes, and no stored text
// of a real key is taken for another.
TEST(SelectionKeysTest, StoredTextsReadBackToTheSameBytes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Artist A", "Artist A"},
        {"Artist A/Album %20", "Artist A/Album %20"},
        {"Beyonce\u0301", "Beyonce\u0301"},
        {"\x83\x65\x83\x58\x83\x67lib", "/%83e%83X%83glib"},
        {"Caf\xE9 100%/Album", "/Caf%E9 100%25/Album"},
        {std::string("\xFF\x01", 2), "/%FF%01"},
    };
    for (const auto& [key, text] : cases) {
        EXPECT_EQ(SelectionKeys::stored(key), text) << text;
        EXPECT_TRUE(text::isValidUTF8(SelectionKeys::stored(key))) << text;
        EXPECT_EQ(SelectionKeys::restored(text), key) << text;
    }
    // A stray "%" of a hand-edited file stays what it is.
    EXPECT_EQ(SelectionKeys::restored("/a%4"), "a%4");
    EXPECT_EQ(SelectionKeys::restored("/a%zz"), "a%zz");
}

TEST(SelectionKeysTest, ANameIsShownAsBestItCanBeRead) {
    using Shown = SelectionKeys::Shown;
    const std::vector<std::pair<std::string, Shown>> cases = {
        {"青い月", {"青い月", false}},
        {"\x83\x65\x83\x58\x83\x67lib", {"テストlib", true}},  // Shift-JIS
        {"Caf\xE9 lib", {"Caf\uFFFD lib", true}},              // Latin-1: no CP932 either
    };
    for (const auto& [name, shown] : cases) EXPECT_EQ(SelectionKeys::shown(name), shown);
}

}  // namespace
}  // namespace tarvik
