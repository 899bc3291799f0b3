#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

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

// A copy cut short by a kill or a quit leaves this program's temporary file:
// it goes with the companions and is counted with them. One a copy is still
// writing (it holds the file's lock) stays, as do other programs' partial
// files. How far the cleaning got is told item by item, and at its end.
TEST(CardCleaning, RemovesLeftoversNobodyWritesAndTellsHowFarItGot) {
    const std::string left = "Ar/Al/.tarvik-0f8a3c2e-5b1d-4e6f-9a7b-2c4d6e8f0a1b.part";
    const std::string writing = "Ar/Al/.tarvik-1f8a3c2e-5b1d-4e6f-9a7b-2c4d6e8f0a1b.part";
    testing::TempDir temp;
    testing::writeFiles(temp.path(), {{left, "half"},
                                      {writing, "being written"},
                                      {"Ar/Al/download.part", "theirs"},
                                      {"Ar/Al/01.mp3", "1"}});
    const int writer = ::open((temp / writing).c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    std::vector<std::pair<std::int64_t, std::int64_t>> told;
    const CleanResult result =
        clean(temp.path(),
              [&](std::int64_t done, std::int64_t total) { told.emplace_back(done, total); }, {});
    ::close(writer);
    EXPECT_EQ(result, (CleanResult{1, 0, {}}));
    EXPECT_EQ(testing::filesBelow(temp.path()), (Files{{writing, "being written"},
                                                       {"Ar/Al/download.part", "theirs"},
                                                       {"Ar/Al/01.mp3", "1"}}));
    // Ar, Al and the four files: told before each, and once more at the end.
    ASSERT_EQ(told.size(), 7U);
    for (std::size_t at = 0; at < told.size(); ++at)
        EXPECT_EQ(told[at], (std::pair<std::int64_t, std::int64_t>(at, 6))) << at;
}

}  // namespace
}  // namespace tarvik::SDCardTools
