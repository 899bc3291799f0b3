// The keys by which a folder many albums share is searched for an album's
// files without identity leave out exactly the files the rule takes for
// another album's: every album name in every form a unit's tag holds it,
// against every record.
#include <gtest/gtest.h>

#include <algorithm>

#include "Core/Convert/CardTags.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/ByteStreams.hpp"
#include "Core/SDCard/CardOwnership.hpp"

namespace tarvik::CardOwnership {
namespace {

using Encoding = ID3Writer::TextEncoding;

struct Form {
    std::string name;
    std::optional<Encoding> v2;  // the ID3v2 tag's text code, if any
    std::optional<Encoding> v1;  // the trailer's, if any
    // The ID3v2 tag's album as a tagger copied it from a Shift-JIS trailer:
    // cut to the trailer's field, one character a byte.
    bool fromTrailer = false;
};

// What a card file of album `album` in `form` says of itself.
CardFile written(const Form& form, const std::string& album) {
    ID3Writer::Tags tags{
        .title = "Tide", .artist = "Band", .album = album, .albumArtist = "Band", .track = "1"};
    Bytes bytes;
    if (form.fromTrailer) {
        const Bytes trailer =
            ID3Writer{ID3Writer::Version::v2_3, Encoding::shiftJIS, true, false}.encodeV1(tags);
        tags.album = CardTags::latin1Text(trailer.begin() + 63, trailer.begin() + 93);
    }
    if (form.v2) bytes = ID3Writer{ID3Writer::Version::v2_3, *form.v2}.encodeV2(tags, 0);
    bytes.resize(bytes.size() + 4000, 0x55);
    if (form.v1) {
        const Bytes trailer =
            ID3Writer{ID3Writer::Version::v2_3, *form.v1, true, false}.encodeV1(tags);
        bytes.insert(bytes.end(), trailer.begin(), trailer.end());
    }
    MemorySource source(bytes);
    return AudioFacts::read(source).value();
}

TEST(CardOwnership, AlbumKeysLeaveOutOnlyTheFilesOfOtherAlbums) {
    const std::vector<Form> forms = {
        {"Unicode", Encoding::utf16, std::nullopt},
        {"Shift-JIS", Encoding::shiftJIS, std::nullopt},
        {"trailer", std::nullopt, Encoding::latin1},
        {"Shift-JIS trailer", std::nullopt, Encoding::shiftJIS},
        {"Unicode and a Shift-JIS trailer", Encoding::utf16, Encoding::shiftJIS},
        {"a tagger's copy of a Shift-JIS trailer", Encoding::latin1, std::nullopt, true},
    };
    const std::vector<std::string> albums = {
        "Sea Wall",
        "sea wall",
        "\uFF33\uFF25\uFF21 \uFF37\uFF21\uFF2C\uFF2C",  // full width
        // full width, longer than a trailer's field in Shift-JIS
        "\uFF33\uFF25\uFF21 \uFF37\uFF21\uFF2C\uFF2C \uFF2F\uFF26 \uFF34\uFF28\uFF25 "
        "\uFF2E\uFF2F\uFF32\uFF34\uFF28",
        "Caf\u00E9 \u00C5lbum",  // letters Shift-JIS lacks
        "\uAF43\uAC08\uD53C",    // none of them in Shift-JIS
        "An Album Name Far Longer Than Thirty Bytes",
        "An Album Name Far Longer Than Thirty Bytes, Part Two",
        "",
    };
    for (const Form& form : forms) {
        for (const std::string& onCard : albums) {
            const CardFile card = written(form, onCard);
            const std::optional<std::vector<std::string>> keys = albumKeys(card);
            for (const std::string& album : albums) {
                const TrackMeta meta("Tide", "Band", "Band", album, "1", "", "", "");
                const bool reached = naming(card, meta) != Naming::differs || sameTags(card, meta);
                const std::vector<std::string> wanted = albumKeys(meta);
                const bool found = !keys || std::ranges::any_of(*keys, [&](const std::string& key) {
                    return std::ranges::find(wanted, key) != wanted.end();
                });
                EXPECT_EQ(found, reached) << form.name << ": " << onCard << " / " << album;
            }
        }
    }
}

}  // namespace
}  // namespace tarvik::CardOwnership
