// Copies into an atomic sink from files that change under them, and what a
// replaced file hands on to its new content.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <functional>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

constexpr std::size_t mebibyte = 1 << 20;

// Through an atomic sink, which skips holes, or read whole in memory.
std::string copied(const fs::path& from, const fs::path& to, const std::function<void()>& meanwhile,
                   bool inMemory = false) {
    FileSource source(from);
    meanwhile();
    AtomicFileSink sink(to);
    if (inMemory) {
        sink.append(source.read(0, static_cast<std::size_t>(source.size())));
    } else {
        sink.copy(source, 0, source.size());
    }
    sink.commit();
    return testing::readFile(to);
}

// A file cut shorter while it is copied is an error, not a copy padded with
// zeros; one that ends in a hole keeps its length, and its hole.
TEST(FileStreams, CopyFailsForAFileCutShorterAndKeepsAHoleAtTheEnd) {
    struct Case {
        const char* name;
        std::size_t data, size, cutTo;  // cutTo 0: not cut
    };
    for (const Case& c :
         std::vector<Case>{{"ends in a hole", mebibyte, 3 * mebibyte, 0},
                           {"cut into its data", 3 * mebibyte, 3 * mebibyte, mebibyte},
                           {"cut into its hole", mebibyte, 3 * mebibyte, 2 * mebibyte}}) {
        SCOPED_TRACE(c.name);
        const testing::TempDir dir;
        const fs::path song = dir / "song.flac", copy = dir / "copy.flac";
        testing::writeFile(song, std::string(c.data, 'a'));
        fs::resize_file(song, c.size);
        const auto cut = [&] {
            if (c.cutTo != 0) fs::resize_file(song, c.cutTo);
        };
        if (c.cutTo != 0) {
            for (const bool inMemory : {false, true}) {
                EXPECT_EQ(
                    testing::thrown<ConversionError>([&] { copied(song, copy, cut, inMemory); }),
                    "読み込めません: song.flac（読んでいる間にファイルが短くなりました）");
                fs::resize_file(song, c.size);
            }
            EXPECT_EQ(testing::filesBelow(dir.path()).size(), 1u);  // no copy, no temporary
            continue;
        }
        EXPECT_EQ(copied(song, copy, cut),
                  std::string(c.data, 'a') + std::string(c.size - c.data, '\0'));
        struct stat facts {};
        ASSERT_EQ(::stat(copy.c_str(), &facts), 0);
        EXPECT_LT(static_cast<std::size_t>(facts.st_blocks) * 512, c.size);  // still sparse
    }
}

// A song saved by another program while an edit copied it keeps that save.
TEST(FileStreams, InPlaceEditYieldsToASaveMadeWhileItCopied) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> save;  // nothing: nobody else saves
    };
    const std::vector<Case> cases = {
        {"nobody else", {}},
        {"a copy renamed over it",
         [](const fs::path& song) {
             testing::writeFile(song.parent_path() / "saved", "theirs");
             fs::rename(song.parent_path() / "saved", song);
         }},
        {"written in place, same size",
         [](const fs::path& song) { testing::writeFile(song, "theirs"); }},
        {"removed", [](const fs::path& song) { fs::remove(song); }}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TempDir dir;
        const fs::path song = dir / "song.mp3";
        testing::writeFile(song, "ours..");
        // Saved a while ago: a save now gives it another time, however coarse the clock.
        const timespec past[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, song.c_str(), past, 0), 0);
        FileSource source(song);
        AtomicFileSink sink(song);
        sink.copy(source, 0, source.size());
        sink.append(std::vector<std::uint8_t>{'!'});
        if (!c.save) {
            sink.commit();
            EXPECT_EQ(testing::readFile(song), "ours..!");
            continue;
        }
        c.save(song);
        Files saved = testing::filesBelow(dir.path());
        std::erase_if(saved, [](const auto& file) { return file.first.starts_with(".tarvik-"); });
        EXPECT_THAT(testing::thrown<FileChangedMeanwhile>([&] { sink.commit(); }),
                    ::testing::EndsWith(": song.mp3"));
        EXPECT_EQ(testing::filesBelow(dir.path()), saved);
    }
}

// The new content of a file takes over its owner, group, mode and
// extended attributes; a new file gets the usual ones.
TEST(FileStreams, ReplacedFileHandsOnOwnerGroupModeAndExtendedAttributes) {
    const testing::TempDir dir;
    const fs::path file = dir / "song.mp3";
    testing::writeFile(file, "old");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
    }
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const std::string note("kept\0 as it was", 15), other = "too";
    if (::setxattr(file.c_str(), "user.tarvik.note", note.data(), note.size(), 0) != 0 ||
        ::setxattr(file.c_str(), "user.tarvik.other", other.data(), other.size(), 0) != 0) {
        GTEST_SKIP() << "the temporary folder's file system keeps no extended attributes";
    }
    writeFileAtomically(file, "new");
    EXPECT_EQ(testing::readFile(file), "new");
    struct stat facts {};
    ASSERT_EQ(::stat(file.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(facts.st_uid, 1234u);
        EXPECT_EQ(facts.st_gid, 5678u);
    }
    for (const auto& [name, value] :
         {std::pair{"user.tarvik.note", note}, std::pair{"user.tarvik.other", other}}) {
        std::string read(64, '\0');
        const ssize_t length = ::getxattr(file.c_str(), name, read.data(), read.size());
        ASSERT_GE(length, 0) << name;
        EXPECT_EQ(read.substr(0, static_cast<std::size_t>(length)), value) << name;
    }
    writeFileAtomically(dir / "new.json", "{}");
    ASSERT_EQ(::stat((dir / "new.json").c_str(), &facts), 0);
    EXPECT_EQ(facts.st_uid, ::geteuid());
}

}  // namespace
}  // namespace tarvik
