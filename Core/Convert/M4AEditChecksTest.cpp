#include <gmock/gmock.h>
#include <mp4tag.h>

#include <cerrno>

#include "Core/Convert/M4AEdit.hpp"
#include "Core/Convert/M4ATesting.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/Mounting.hpp"

namespace tarvik {
namespace {

using namespace testing::m4a;

const TrackMeta meta("New Title", "Artist", "Album Artist", "Album", "3", "1", "2019-04-01",
                     "Rock");

std::string renamed(std::string file, std::string_view from, std::string_view to) {
    for (std::size_t at = file.find(from); at != std::string::npos; at = file.find(from, at)) {
        file.replace(at, to.size(), to);
    }
    return file;
}

// `child` first in the user data of a file whose moov is last, its chunk
// offsets (if any) pointing at the media data's start.
std::string firstInUserData(const std::string& file, std::string child) {
    const std::size_t moov = atom(file, "moov"), udta = atom(file, "udta", moov);
    if (child.substr(4, 4) == "stco") put(child, 16, atom(file, "mdat") + 8);
    std::string out = file;
    out.insert(udta + 8, child);
    for (std::size_t at : {moov, udta}) put(out, at, get32(file, at) + child.size());
    return out;
}

// Refused before anything is written: the source, the destination and the
// folder as they were.
void expectRefused(const TempDir& temp, const std::string& file, const std::string& message) {
    writeFile(temp / "in.m4a", file);
    writeFile(temp / "out.m4a", "earlier");
    EXPECT_EQ(
        thrown<ConversionError>([&] { TagEditor::write(temp / "in.m4a", meta, temp / "out.m4a"); }),
        message);
    EXPECT_EQ(readFile(temp / "in.m4a"), file) << message;
    EXPECT_EQ(readFile(temp / "out.m4a"), "earlier") << message;
    EXPECT_EQ(entriesIn(temp.path()), 2u) << message;
}

// Fragments keep their sample offsets outside the moov, where TagLib moves
// only the first: refused whichever sign of them the file shows, though its
// tags still read. A hostile file never reaches TagLib: a renamed container
// that TagLib still descends into, sample tables claiming more entries than
// they hold, an item TagLib would take for a container, a chunk-offset table
// outside a track (TagLib would write its offsets over the new tag), a
// second moov.
TEST(M4AEdit, FragmentedAndHostileFilesAreRefusedUnchanged) {
    TempDir temp;
    testing::makeTone(temp / "tone.m4a",
                      {.seconds = 3,
                       .metadata = {{"title", "Old"}},
                       .extraArguments = {"-movflags", "frag_keyframe+empty_moov"}});
    const std::string fragmented = readFile(temp / "tone.m4a");
    fs::remove(temp / "tone.m4a");
    const std::string split = "分割された M4A は書き換えません: in.m4a";
    for (const std::string& file :
         {fragmented, renamed(renamed(fragmented, "moof", "free"), "mfra", "free"),
          renamed(renamed(fragmented, "mvex", "free"), "mfra", "free"),
          renamed(renamed(fragmented, "mvex", "free"), "moof", "free")}) {
        expectRefused(temp, file, split);
        EXPECT_EQ(TagFields::read(temp / "in.m4a").at(TagFields::Field::title), "Old");
    }

    const std::string good = taggedFile(temp.path());
    const auto claimingMore = [&](std::string file, std::string_view table, std::size_t countAt) {
        put(file, atom(file, table) + 8 + countAt, 4'294'903'813u);
        return file;
    };
    const std::string broken = "タグが壊れています: in.m4a";
    for (const std::string& file : {
             claimingMore(renamed(good, "minf", "ilst"), "stco", 4),
             claimingMore(good, "stco", 4),
             claimingMore(good, "stts", 4),
             claimingMore(good, "stsc", 4),
             claimingMore(good, "stsz", 8),
             claimingMore(good, "stsd", 4),
             withItem(good, box("stbl", box("data", std::string(12, '\0')))),
             firstInUserData(
                 good, box("stco", std::string("\0\0\0\0\0\0\0\x01", 8) + std::string(4, '\0'))),
             good + box("moov", box("mvhd", std::string(100, '\0'))),
         }) {
        expectRefused(temp, file, broken);
        EXPECT_THROW(TagFields::read(temp / "in.m4a"), ConversionError);
    }
}

// Items TagLib reads into something else (the numeric genre becomes a text
// one) or drops (a cover with a name) are named, whichever field is written
// through it; a field written item by item keeps them as they are.
TEST(M4AEdit, ItemsTagLibWouldNotKeepAreNamed) {
    TempDir temp;
    const std::string good = taggedFile(temp.path());
    const std::string jpeg = "\xFF\xD8\xFF\xE0jpeg\xFF\xD9";
    const std::string tail = ": in.m4a";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {box("gnre", box("data", std::string(8, '\0') + std::string("\0\x05", 2))), "gnre"},
        {box("covr", box("name", std::string(4, '\0') + "front") +
                         box("data", std::string("\0\0\0\x0D\0\0\0\0", 8) + jpeg)),
         "covr"}};
    for (const auto& [item, name] : cases) {
        const std::string message = "タグ項目「" + name +
                                    "」は書き換えると元どおりに残せないため、"
                                    "タグを書き換えませんでした: in.m4a";
        expectRefused(temp, withItem(good, item), message);
        TagFields::patch(temp / "in.m4a", {{TagFields::Field::title, "x"}}, temp / "out.m4a");
        EXPECT_NE(readFile(temp / "out.m4a").find(item), std::string::npos) << name;
        EXPECT_EQ(TagFields::read(temp / "out.m4a").at(TagFields::Field::title), "x");
    }
}

// The file grows by the new tag while it is written: a disk that fills
// then, or a file size limit, is reported as the write that failed.
TEST(M4AEdit, FullDiskWhileTheFileGrowsIsReportedAsSuch) {
    TempDir temp;
    const std::string good = taggedFile(temp.path());
    TrackMeta longTitle = meta;
    longTitle.title = std::string(16 << 10, 'x');
    writeFile(temp / "in.m4a", good);

    fs::create_directory(temp / "small");
    std::string whyNot;
    const auto tmpfs = testing::Tmpfs::mount(temp / "small", "size=16k", whyNot);
    if (tmpfs) {
        writeFile(temp / "small/out.m4a", "earlier");
        EXPECT_EQ(thrown<ConversionError>([&] {
                      TagEditor::write(temp / "in.m4a", longTitle, temp / "small/out.m4a");
                  }),
                  "書き込めません: out.m4a（" + systemReason(ENOSPC) + "）");
        EXPECT_EQ(readFile(temp / "small/out.m4a"), "earlier");
        EXPECT_EQ(entriesIn(temp / "small"), 1u);
    }

    writeFile(temp / "out.m4a", "earlier");
    {
        testing::FileSizeLimit limit(good.size() + 1024);
        ASSERT_TRUE(limit.active());
        EXPECT_EQ(thrown<ConversionError>(
                      [&] { TagEditor::write(temp / "in.m4a", longTitle, temp / "out.m4a"); }),
                  "書き込めません: out.m4a（" + systemReason(EFBIG) + "）");
    }
    EXPECT_EQ(readFile(temp / "out.m4a"), "earlier");
    EXPECT_EQ(entriesIn(temp.path()), 3u);  // in, out and the mount point
    if (!tmpfs) GTEST_SKIP() << "the full tmpfs was not tried: " << whyNot;
}

// TagLib may make the movie larger by the new texts and 1 MiB, no more.
TEST(M4AEdit, GrowthPastTheNewTagIsRefused) {
    TempDir temp;
    writeFile(temp / "in.m4a", taggedFile(temp.path()));
    writeFile(temp / "out.m4a", "earlier");
    const std::string huge(2 << 20, 'x');
    const auto setTitle = [&](TagLib::MP4::Tag& tag) {
        tag.setItem("\251nam", TagLib::MP4::Item(TagLib::StringList(TagLib::String(huge))));
    };
    EXPECT_EQ(thrown<ConversionError>(
                  [&] { m4a::edit(temp / "in.m4a", temp / "out.m4a", {"\251nam"}, 16, setTitle); }),
              "書き換えた結果が大きくなりすぎるため、タグを書き換えませんでした: in.m4a");
    EXPECT_EQ(readFile(temp / "out.m4a"), "earlier");
    EXPECT_EQ(entriesIn(temp.path()), 2u);

    m4a::edit(temp / "in.m4a", temp / "out.m4a", {"\251nam"}, huge.size(), setTitle);
    EXPECT_EQ(TagFields::read(temp / "out.m4a").at(TagFields::Field::title), huge);
}

// The check after saving, on a written file tampered with: the media data
// must be the same bytes, every chunk offset moved by exactly what the moov
// grew, the file must have one moov, and every item TagLib was told to write
// must be there.
// A file cut short in its audio (a copy that stopped) whose item list
// still reads whole is refused for what it is; cut short in its moov, its
// tag is damaged.
TEST(M4AEdit, FileCutShortIsRefusedSayingWhere) {
    TempDir temp;
    const std::string first = taggedFile(temp.path(), "+faststart"), last = taggedFile(temp.path());
    ASSERT_LT(atom(first, "moov"), atom(first, "mdat"));
    for (const auto& [file, message] :
         {std::pair{first.substr(0, first.size() - 100), "音声が途中で切れています: in.m4a"},
          std::pair{last.substr(0, last.size() - 100), "タグが壊れています: in.m4a"}}) {
        expectRefused(temp, file, message);
        EXPECT_EQ(thrown<ConversionError>([&] {
                      TagFields::patch(temp / "in.m4a", {{TagFields::Field::title, "x"}},
                                       temp / "out.m4a");
                  }),
                  message);
    }
}

TEST(M4AEdit, CheckAfterSavingCatchesChangedAudioMisplacedOffsetsASecondMovieAndLostItems) {
    TempDir temp;
    writeFile(temp / "in.m4a", taggedFile(temp.path(), "+faststart"));
    TrackMeta longer = meta;
    longer.title = std::string(4096, 't');  // more than the padding holds
    TagEditor::writeM4A(temp / "in.m4a", longer, temp / "out.m4a");
    const std::string source = readFile(temp / "in.m4a"), written = readFile(temp / "out.m4a");
    const std::size_t mdat = atom(written, "mdat"), stco = atom(written, "stco");
    ASSERT_GT(get32(written, stco + 16), get32(source, atom(source, "stco") + 16))
        << "the offsets moved with the samples";

    std::string audio = written, offset = written;
    audio[mdat + 8 + 100] ^= 0x01;
    put(offset, stco + 16, get32(written, stco + 16) + 1);
    const std::string unsure =
        "書き換えた結果を確かめられないため、タグを書き換えませんでした: in.m4a";
    const std::vector<std::string> changed = {"\251nam", "\251ART", "\251alb", "aART",
                                              "trkn",    "disk",    "\251day", "\251gen"};
    const m4a::Movie movie{{}, changed, changed};
    // A composer TagLib was told to write, not in the file.
    std::vector<std::string> withComposer = changed;
    withComposer.push_back("\251wrt");
    const m4a::Movie composer{{}, withComposer, withComposer};
    const std::vector<std::tuple<std::string, m4a::Movie, std::string>> cases = {
        {written, movie, "(nothing thrown)"},
        {audio, movie, unsure},
        {offset, movie, unsure},
        {written + box("moov", box("mvhd", std::string(100, '\0'))), movie, unsure},
        {written, composer, unsure}};
    FileSource before(temp / "in.m4a");
    const mp4::Layout layout = m4a::editable(before, "in.m4a");
    for (const auto& [file, told, message] : cases) {
        writeFile(temp / "after.m4a", file);
        FileSource after(temp / "after.m4a");
        EXPECT_EQ(
            thrown<ConversionError>([&] { m4a::verify(before, layout, after, told, "in.m4a"); }),
            message);
    }
}

}  // namespace
}  // namespace tarvik
