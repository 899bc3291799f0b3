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

// Which song of an album a card file holds: by the song identity it carries
// where both sides have one, else by its title, number and the disc it
// holds; on a card written before identities, under an earlier title, by
// its number and disc.
TEST(CardOwnership, AFileIsTheSongItNamesOrByTitleNumberAndDisc) {
    const TrackMeta discOne("Intro", "Band", "Band", "Discs", "1", "1", "", "");
    const TrackMeta discTwo("Intro", "Band", "Band", "Discs", "1", "2", "", "");
    const std::string album = AlbumIdentity::of(discOne);
    struct Case {
        std::string name;
        ID3Writer::Tags onCard;
        std::optional<std::string> source;  // the song's identity, where its side has one
        Match expected;
    };
    const auto copy = [&](const TrackMeta& meta, std::string title, bool identities) {
        return ID3Writer::Tags{.title = std::move(title),
                               .artist = meta.artist,
                               .album = meta.album,
                               .albumArtist = meta.albumArtist,
                               .track = meta.track,
                               .disc = meta.disc,
                               .albumIdentity = identities ? album : "",
                               .trackIdentity = identities ? AlbumIdentity::trackOf(meta) : ""};
    };
    const std::vector<Case> cases = {
        {"its own copy", copy(discOne, "Intro", true), AlbumIdentity::trackOf(discOne),
         Match::same},
        {"the other disc's copy", copy(discTwo, "Intro", true), AlbumIdentity::trackOf(discOne),
         Match::none},
        {"its copy under an earlier title", copy(discOne, "Opening", true),
         AlbumIdentity::trackOf(discOne), Match::earlier},
        // An exported album written before songs carried their identity.
        {"sent from an export naming no song", copy(discOne, "Intro", true), std::nullopt,
         Match::same},
        {"the other disc's, sent from such an export", copy(discTwo, "Intro", true),
         std::nullopt, Match::none},
        {"an older card's copy under an earlier title", copy(discOne, "Opening", false),
         AlbumIdentity::trackOf(discOne), Match::earlier},
        {"an older card's copy of the other disc", copy(discTwo, "Opening", false),
         AlbumIdentity::trackOf(discOne), Match::none},
    };
    for (const Case& c : cases) {
        Bytes bytes = ID3Writer{}.encodeV2(c.onCard, 0);
        bytes.resize(bytes.size() + 4000, 0x55);
        MemorySource source(bytes);
        const std::optional<CardFile> card = AudioFacts::read(source);
        MemorySource again(bytes);
        const Song song{&discOne, nullptr, {album}, c.source};
        EXPECT_EQ(match(AlbumIdentity::carried(again), card, song, false,
                        [](const std::optional<double>&) { return true; }),
                  c.expected)
            << c.name;
    }
}

}  // namespace
}  // namespace tarvik::CardOwnership
