#include <gtest/gtest.h>

#include "Core/SDCard/CardCleaning.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {
namespace {

using Files = std::map<std::string, std::string>;

// Companion files go, except inside hidden folders; music files and the
// folders that hold music take card names; names stored decomposed or as
// bytes that are not UTF-8 are reached; a name taken in any case is never
// replaced; a folder is never renamed only to pad it. A second run finds
// nothing more to do; a stopped one does nothing.
TEST(CardCleaning, CleansTheCardAndLosesNothing) {
    const std::vector<std::tuple<Files, CleanResult, Files>> cases = {
        {{{"Ar\u301C/Al/._02.mp3", "f"},
          {"Ar\u301C/Al/02 S\u301C.MP3", "2"},
          {"Ar\u301C/Al/03 S\u301C.FLAC", "3"},
          {".Spotlight-V100/._x\u301C.mp3", "i"},
          {"Covers\u301C/front.jpg", "4"},
          {"Al\u301C.mp3/notes.txt", "5"},
          {"\u30AB\u3099/x\u301C.mp3", "6"},
          {"Al/bad\xff.mp3", "7"}},
         {1, 5, {}},
         {{"Ar~/Al/02 S~.MP3", "2"},
          {"Ar~/Al/03 S\u301C.FLAC", "3"},
          {".Spotlight-V100/._x\u301C.mp3", "i"},
          {"Covers\u301C/front.jpg", "4"},
          {"Al\u301C.mp3/notes.txt", "5"},
          {"\u30AC\u3000\u3000\u3000\u3000/x~.mp3", "6"},
          {"Al/bad_.mp3", "7"}}},
        {{{"\u6B4C\u624B\u3042/x.mp3", "1"}, {"\u6B4C\u624B\u3000/y.mp3", "2"}},
         {0, 0, {}},
         {{"\u6B4C\u624B\u3042/x.mp3", "1"}, {"\u6B4C\u624B\u3000/y.mp3", "2"}}},
        {{{"Caf\u00E9/L\u301C/\u00C9.mp3", "1"}, {"Caf\u00E9/L\u301C/_.MP3", "2"}, {"Caf_/k", "3"}},
         {0, 1, {"\u00C9.mp3", "Caf\u00E9"}},
         {{"Caf\u00E9/L~/\u00C9.mp3", "1"}, {"Caf\u00E9/L~/_.MP3", "2"}, {"Caf_/k", "3"}}},
    };
    for (const auto& [before, result, after] : cases) {
        testing::TempDir temp;
        testing::writeFiles(temp.path(), before);
        std::stop_source stopped;
        stopped.request_stop();
        EXPECT_EQ(clean(temp.path(), stopped.get_token()), CleanResult{});
        EXPECT_EQ(testing::filesBelow(temp.path()), before);
        EXPECT_EQ(clean(temp.path().native() + "/", {}), result) << before.begin()->first;
        EXPECT_EQ(testing::filesBelow(temp.path()), after);
        EXPECT_EQ(clean(temp.path(), {}), (CleanResult{0, 0, result.failed}));
    }
}

}  // namespace
}  // namespace tarvik::SDCardTools
