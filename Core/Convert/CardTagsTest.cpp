// Card files' tags read as users' files are tagged: every ID3v2 version and
// form and ID3v1, each against what mutagen reads from the same file, and
// MP4, ASF, Vorbis comments and ID3 before ADTS audio against ffprobe (whose
// reader takes an unsynchronised 2.3 tag's frame sizes wrongly); and a tag
// that is there but can't be read told apart from no tag at all.
#include <gtest/gtest.h>

#include <functional>

#include "Core/Convert/CardTags.hpp"
#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/ID3Forms.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Form = CardTags::Form;
using Tag = testing::ID3Form;

CardTags::Tags tagsOf(const fs::path& file) {
    FileSource source(file);
    return CardTags::read(source);
}

TEST(CardTags, EveryFormAsFFprobeReadsIt) {
    const std::vector<std::pair<std::string, std::string>> v2 = {{"TIT2",
                                                                  "Oth\xFF"
                                                                  "er"},
                                                                 {"TPE1", "Stranger"},
                                                                 {"TALB", "Road"},
                                                                 {"TPE2", "Band"},
                                                                 {"TRCK", "9"}};
    const std::vector<std::pair<std::string, std::string>> v22 = {
        {"TT2", "Other"}, {"TP1", "Stranger"}, {"TAL", "Road"}, {"TP2", "Band"}, {"TRK", "9"}};
    const std::vector<std::pair<std::string, std::string>> metadata = {
        {"title", "Other"}, {"artist", "Stranger"}, {"album", "Road"}, {"album_artist", "Band"}};
    struct Case {
        std::string name;
        std::optional<Tag> tag;          // put in front of untagged audio
        testing::ToneOptions tone = {};  // else the file ffmpeg makes
        Form form = Form::id3v2;
        // Another program's tagging, and what it reads back, instead of ffprobe.
        std::function<nlohmann::json(const fs::path&)> retag = {};
    };
    ID3Writer::Tags trailer{.title = "Other", .artist = "Stranger", .album = "Road"};
    const std::string junk = std::string(20, '\0') + "\x07" + std::string(20, '\0');
    const std::vector<Case> cases = {
        {"v22.mp3", Tag{.major = 2, .frames = v22}},
        {"v22-unsync.mp3", Tag{.major = 2, .frames = v22, .unsync = true}},
        {"v23-unsync.mp3", Tag{.major = 3, .frames = v2, .unsync = true}},
        {"v23-extended.mp3", Tag{.major = 3, .frames = v2, .extendedHeader = true}},
        {"v23-junk.mp3", Tag{.major = 3, .frames = v2, .padding = junk}},
        {"v24-extended.mp3", Tag{.major = 4, .frames = v2, .extendedHeader = true}},
        {"v24-unsync.mp3", Tag{.major = 4, .frames = v2, .unsync = true}},
        {"v1.mp3", Tag{.major = 1}, {}, Form::id3v1},
        {"a.m4a", std::nullopt, {.metadata = metadata}, Form::mp4},
        {"a.wma",
         std::nullopt,
         {.metadata = metadata, .extraArguments = {"-c:a", "wmav2"}},
         Form::asf},
        {"adts.aac", std::nullopt, {.metadata = metadata, .extraArguments = {"-write_id3v2", "1"}}},
        {"flac-by-its-bytes.mp3",
         std::nullopt,
         {.metadata = metadata, .pipedFormat = "flac"},
         Form::xiph},
        {"a.ogg",
         std::nullopt,
         {.metadata = metadata, .extraArguments = {"-c:a", "libvorbis"}},
         Form::xiph},
        {"a.opus",
         std::nullopt,
         {.metadata = metadata, .extraArguments = {"-c:a", "libopus"}},
         Form::xiph},
        {"a.m4b",
         std::nullopt,
         {.metadata = metadata, .extraArguments = {"-brand", "M4B "}},
         Form::mp4},
        {"info.wav", std::nullopt, {.metadata = metadata}, Form::riffInfo},
        {"id3-chunk.aiff",
         std::nullopt,
         {.metadata = metadata, .extraArguments = {"-write_id3v2", "1"}}},
        {"id3-chunk.wav",
         std::nullopt,
         {.extraArguments = {"-map_metadata", "-1"}},
         Form::id3v2,
         [](const fs::path& file) {
             return nlohmann::json::parse(
                 testing::outputOf({testing::systemPython, "-c",
                                    "import json, sys\n"
                                    "from mutagen.wave import WAVE\n"
                                    "from mutagen.id3 import TIT2, TPE1, TALB, TPE2\n"
                                    "wave = WAVE(sys.argv[1])\n"
                                    "wave.add_tags()\n"
                                    "for frame in (TIT2(text='Other'), TPE1(text='Stranger'),\n"
                                    "              TALB(text='Road'), TPE2(text='Band')):\n"
                                    "    wave.tags.add(frame)\n"
                                    "wave.save()\n"
                                    "names = {'TIT2': 'title', 'TPE1': 'artist', 'TALB': 'album',\n"
                                    "         'TPE2': 'albumartist'}\n"
                                    "tags = WAVE(sys.argv[1]).tags\n"
                                    "print(json.dumps({names[k]: str(tags[k]) for k in names}))\n",
                                    file.string()}));
         }},
    };
    testing::TempDir temp;
    testing::makeTone(temp / "bare.mp3",
                      {.extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0"}});
    const std::string audio = testing::readFile(temp / "bare.mp3");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nlohmann::json found;
        if (c.tag) {
            const std::string v1 = std::string(asText(
                ID3Writer{ID3Writer::Version::v2_3, ID3Writer::TextEncoding::latin1, true}.encodeV1(
                    trailer)));
            testing::writeFile(temp / c.name,
                               c.tag->major == 1 ? audio + v1 : testing::id3Tag(*c.tag) + audio);
            found = testing::mutagen(temp / c.name);
        } else {
            testing::makeTone(temp / c.name, c.tone);
            if (c.retag) {
                found = c.retag(temp / c.name);
            } else {
                const nlohmann::json probe =
                    testing::ffprobe(temp / c.name, "format_tags:stream_tags");
                const nlohmann::json none = nlohmann::json::object();
                found = probe["format"].value("tags", none);
                for (const auto& stream : probe["streams"])
                    found.update(stream.value("tags", none));
            }
        }
        const CardTags::Tags tags = tagsOf(temp / c.name);
        EXPECT_EQ(tags.form, c.form);
        EXPECT_FALSE(tags.unreadable);
        // Each reader spells the names its own way.
        const auto read = [&](std::initializer_list<const char*> keys) {
            for (const char* key : keys) {
                for (const auto& [name, value] : found.items()) {
                    if (text::lower(name) == key) return value.get<std::string>();
                }
            }
            return std::string();
        };
        EXPECT_EQ(tags.fields.title, read({"title"}));
        EXPECT_EQ(tags.fields.artist, read({"artist"}));
        EXPECT_EQ(tags.fields.album, read({"album"}));
        EXPECT_EQ(tags.fields.albumArtist, read({"albumartist", "album_artist"}));
        // Neither ID3v1 nor INFO holds an album artist.
        EXPECT_EQ(tags.fields.albumArtist.empty(),
                  c.form == Form::id3v1 || c.form == Form::riffInfo);
    }
}

// A tag that is there but can't be read is unclear; one that is not there,
// or is empty, or names a title alone, is no tag of an album.
TEST(CardTags, ATagThatCantBeReadIsToldApartFromNone) {
    const std::vector<std::pair<std::string, std::string>> titleOnly = {{"TIT2", "Episode"}};
    struct Case {
        std::string name;
        std::string head;  // in front of untagged audio
        bool unreadable;
        bool namesAlbum;
        ID3Writer::Tags trail = {};  // an ID3v1 trailer behind it, when it holds a field
    };
    const std::string badSize = "ID3\x03\x00\x00\x00\x00\x80\x10" + std::string(64, 'x');
    const std::string future = "ID3\x05\x00\x00\x00\x00\x00\x10" + std::string(16, 'x');
    const std::string garbage = "ID3\x03\x00\x00\x00\x00\x00\x20" + std::string(32, '\x7F');
    const std::vector<Case> cases = {
        {"no tag", "", false, false},
        {"an empty tag", testing::id3Tag(Tag{.padding = std::string(64, '\0')}), false, false},
        {"a title alone", testing::id3Tag(Tag{.frames = titleOnly}), false, false},
        {"a title, then junk", testing::id3Tag(Tag{.frames = titleOnly, .padding = "\x07xyz"}),
         true, false},
        {"a title, then junk, and the trailer's album",
         testing::id3Tag(Tag{.frames = titleOnly, .padding = "\x07xyz"}), false, true,
         ID3Writer::Tags{.title = "Episode", .album = "Road"}},
        {"a title, then junk, and the trailer's title",
         testing::id3Tag(Tag{.frames = titleOnly, .padding = "\x07xyz"}), true, false,
         ID3Writer::Tags{.title = "Episode"}},
        {"a size no tag has", badSize, true, false},
        {"a version to come", future, true, false},
        {"frames of garbage", garbage, true, false},
        {"a tag longer than the file",
         testing::id3Tag(Tag{.frames = {{"TALB", "Road"}, {"TIT2", std::string(4096, 'x')}}})
             .substr(0, 200),
         false, true},
    };
    testing::TempDir temp;
    testing::makeTone(temp / "bare.mp3",
                      {.extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0"}});
    const std::string audio = testing::readFile(temp / "bare.mp3");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool cut = c.name == "a tag longer than the file";
        const bool trailed = !c.trail.title.empty();
        const std::string v1(asText(
            ID3Writer{ID3Writer::Version::v2_3, ID3Writer::TextEncoding::latin1, true}.encodeV1(
                c.trail)));
        testing::writeFile(temp / "x.mp3", c.head + (cut ? "" : audio) + (trailed ? v1 : ""));
        const CardTags::Tags tags = tagsOf(temp / "x.mp3");
        EXPECT_EQ(tags.unreadable, c.unreadable);
        EXPECT_EQ(tags.namesAlbum(), c.namesAlbum);
    }
    // An item list damaged after a title, before any album; an ASF header
    // whose first object is shorter than an object's header.
    const fs::path kept = fs::path(TARVIK_SOURCE_DIR) / "Core/Convert/testdata/fuzz";
    for (const fs::path& file : {kept / "AlbumIdentity/atom-size-wrapping-round-below-the-end.m4a",
                                 kept / "CardTags/asf-object-shorter-than-its-header.wma"}) {
        EXPECT_TRUE(tagsOf(file).unreadable) << file.filename();
    }
}

}  // namespace
}  // namespace tarvik
