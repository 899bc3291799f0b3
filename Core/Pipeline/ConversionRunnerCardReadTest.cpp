// A run reads the album identity of every file in its albums' folders on the
// card before it writes: a stop is heeded while those files are read, even
// in the middle of one, and a damaged file among them costs the run nothing.
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Testing/SlowCard.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;

ConversionRunner::Handle startedUntilConverting(const ConversionRunner& runner,
                                                const ConversionPlan& plan,
                                                const ScriptedConverter& converter) {
    ConversionRunner::Handle handle = runner.start(plan, converter.function());
    while (std::optional<ConversionEvent> event = handle.events.next()) {
        if (describe(*event) == "converting") break;
    }
    return handle;
}

// The album's folder holds files that take seconds to read in all; a stop
// while they are read ends the run within a second, and nothing is written.
TEST(CardRead, StopWhileTheCardIsReadEndsTheRunWithinASecond) {
    TempDir temp;
    const fs::path card = temp / "card";
    writeSlowCardFiles(card / "MUSIC/Album");
    const ScriptedConverter converter;
    ConversionRunner::Handle handle =
        startedUntilConverting(runnerFor(card), planOf({{"Album", 2}}), converter);
    std::this_thread::sleep_for(100ms);  // the files are being read
    handle.cancel();
    EXPECT_TRUE(handle.task->waitFor(1s)) << "the run went on reading the card";
    EXPECT_EQ(describe(drain(handle).back()), "done 0 skipped 0 failed 0 stopped");
    EXPECT_TRUE(converter.started().empty());
}

// An item list whose last atom's 64-bit size wraps round to its first item
// once looped the identity read for ever: the run ends. The file's tag is
// damaged before it names an album, so nobody can tell whose the folder is:
// the album is written beside it, into a numbered folder, and it stays as
// it is.
TEST(CardRead, DamagedFileInTheAlbumFolderNeitherHangsNorStopsTheRun) {
    TempDir temp;
    const fs::path card = temp / "card";
    fs::create_directories(card / "MUSIC/Album");
    fs::copy_file(fs::path(TARVIK_SOURCE_DIR) /
                      "Core/Convert/testdata/fuzz/AlbumIdentity/"
                      "atom-size-wrapping-round-below-the-end.m4a",
                  card / "MUSIC/Album/1 t1.m4a");
    const ScriptedConverter converter;
    ConversionRunner::Handle handle =
        runnerFor(card).start(planOf({{"Album", 2}}), converter.function());
    ASSERT_TRUE(handle.task->waitFor(20s)) << "the run hangs on the damaged file";
    const std::vector<ConversionEvent> events = drain(handle);
    EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 0");
    EXPECT_EQ(trace(events, "notice"),
              Texts{"notice 「Album」にはどのアルバムのものか分からない曲があるため「Album 2」に"
                    "書き出しました"});
    EXPECT_EQ(pathsBelow(card),
              (Texts{"MUSIC/Album 2/1 t1.mp3", "MUSIC/Album 2/2 t2.mp3", "MUSIC/Album/1 t1.m4a"}));
}

}  // namespace
}  // namespace tarvik
