#include "Core/Convert/M4ATesting.hpp"
#include "Core/Convert/MP4Items.hpp"
#include "Core/Convert/TagFields.hpp"

namespace tarvik {
namespace {

using namespace testing::m4a;
using TagFields::Field;

std::string textItem(std::string_view name, const std::string& text) {
    return box(name, box("data", std::string("\0\0\0\x01\0\0\0\0", 8) + text));
}

// Fields set on a real file (its moov last, or first: then every chunk
// offset moves with the tag), checked by ffprobe; the snapshot taken before
// gives the file back byte for byte, whatever the items held: bytes that
// are no UTF-8, a field in two items, a field that was not there.
TEST(MP4Items, ChangedFieldsComeBackAsTheItemsTheyWere) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> items = {
        {"a title in Shift-JIS", {textItem("\xA9nam", "\x83\x65\x83\x58\x83\x67")}},
        {"two titles and an artist between",
         {textItem("\xA9nam", "First"),
          textItem("\xA9"
                   "ART",
                   "A Band"),
          textItem("\xA9nam", "Other")}},
        {"no title", {}},
    };
    for (const std::string movflags : {"", "+faststart"}) {
        for (const auto& [what, added] : items) {
            SCOPED_TRACE(what + " " + movflags);
            TempDir temp;
            std::string song = taggedFile(temp.path(), movflags);
            song.replace(atom(song, "\xA9nam") + 4, 4,
                         "\xA9"
                         "cmt");  // its title a comment
            for (const std::string& item : added) song = withItem(song, item);
            writeFile(temp / "song.m4a", song);
            const TagFields::Snapshot before = TagFields::snapshot(temp / "song.m4a");
            const std::string audio =
                testing::outputOf({"ffmpeg", "-v", "error", "-i", (temp / "song.m4a").string(),
                                   "-map", "0:a", "-c", "copy", "-f", "md5", "-"});

            const TagFields::Values changed = {{Field::title, std::string(3000, 't')},
                                               {Field::track, "4"},
                                               {Field::album, std::nullopt}};
            TagFields::patch(temp / "song.m4a", changed, temp / "new.m4a");
            const nlohmann::json tags =
                testing::ffprobe(temp / "new.m4a", "format_tags").at("format").at("tags");
            EXPECT_EQ(tags.value("title", ""), std::string(3000, 't'));
            EXPECT_EQ(tags.value("track", ""), "4/12");  // the total stays
            EXPECT_FALSE(tags.contains("album"));
            EXPECT_EQ(testing::outputOf({"ffmpeg", "-v", "error", "-i", (temp / "new.m4a").string(),
                                         "-map", "0:a", "-c", "copy", "-f", "md5", "-"}),
                      audio);

            TagFields::Values old;
            for (const auto& [field, value] : changed) old[field] = before.values.at(field);
            TagFields::patch(temp / "new.m4a", old, temp / "back.m4a", {0, before.places});
            EXPECT_TRUE(readFile(temp / "back.m4a") == song) << "not byte for byte";
        }
    }
}

TEST(MP4Items, RawValueThatIsNoWholeItemOfItsFieldIsRefused) {
    const std::vector<mp4::Item> none;
    for (const std::string& raw : {std::string("\xFF") + textItem("\xA9"
                                                                  "ART",
                                                                  "x"),
                                   std::string("\xFF") + textItem("\xA9nam", "x").substr(1),
                                   std::string("\xFF\0\0\0\x04", 5)}) {
        EXPECT_EQ(thrown<ConversionError>([&] {
                      mp4::withFields(none, {{Field::title, raw}}, {}, "a.m4a");
                  }),
                  "扱えない M4A の項目です: a.m4a");
    }
    EXPECT_EQ(thrown<ConversionError>([&] {
                  mp4::withFields(none, {{Field::disc, "70000"}}, {}, "a.m4a");
              }),
              "番号として書けません: 70000（a.m4a）");
}

}  // namespace
}  // namespace tarvik
