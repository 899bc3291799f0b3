#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Core/Catalog/CatalogRecord.hpp"
#include "Core/Platform/Json.hpp"

namespace tarvik {
namespace {

CatalogRecord track(std::string name) {
    CatalogRecord record;
    record.wrapperType = "track";
    record.trackName = std::move(name);
    return record;
}

TEST(CatalogRecord, EnvelopeDecoding) {
    CatalogRecord full;
    full.wrapperType = "track";
    full.artistName = "Artist";
    full.collectionName = "Album";
    full.collectionArtistName = "Various Artists";
    full.collectionId = 9007199254740993;  // beyond what a double holds exactly
    full.trackName = "曲名";
    full.trackNumber = 3;
    full.discNumber = 1;
    full.releaseDate = "2011-03-04T07:00:00Z";
    full.primaryGenreName = "J-Pop";

    struct Case {
        std::string body;
        std::optional<CatalogRecords> expected;  // absent: undecodable
    };
    const std::vector<Case> cases = {
        {R"({"results": []})", CatalogRecords{}},
        {R"({"resultCount": 1, "results": [{}]})", CatalogRecords{CatalogRecord{}}},
        {R"({"results": [{"wrapperType": "track", "artistName": "Artist",
            "collectionName": "Album", "collectionArtistName": "Various Artists",
            "collectionId": 9007199254740993, "trackName": "曲名", "trackNumber": 3,
            "discNumber": 1.0, "releaseDate": "2011-03-04T07:00:00Z",
            "primaryGenreName": "J-Pop", "trackPrice": 250, "kind": "song"}]})",
         CatalogRecords{full}},
        {R"({"results": [{"artistName": null, "trackNumber": null}]})", CatalogRecords{{}}},
        {R"({"results": [{}, {"trackNumber": "5"}]})", std::nullopt},
        {R"({"results": [{"trackNumber": 5.5}]})", std::nullopt},
        {R"({"results": [{"artistName": 5}]})", std::nullopt},
        {R"({"results": [{"collectionId": 9223372036854775808}]})", std::nullopt},
        {R"({"results": [[]]})", std::nullopt},
        {R"({"results": null})", std::nullopt},
        {R"({"results": {}})", std::nullopt},
        {R"({"resultCount": 0})", std::nullopt},
        {R"([{"results": []}])", std::nullopt},
        {"<html>busy</html>", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        if (c.expected) {
            EXPECT_EQ(Envelope::decode(c.body).results, *c.expected) << c.body;
        } else {
            EXPECT_THROW(Envelope::decode(c.body), DecodingError) << c.body;
        }
    }
}

TEST(CatalogRecord, EncodingWritesOnlyPresentFieldsAndReadsBack) {
    EXPECT_EQ(CatalogRecord{}.toJson().dump(), "{}");

    CatalogRecord record;
    record.artistName = "A/B \"Q\"";
    record.trackNumber = 0;
    record.releaseDate = "";
    const std::string text = CatalogJson::encodeList({record, CatalogRecord{}});
    EXPECT_EQ(text, R"([{"artistName":"A/B \"Q\"","releaseDate":"","trackNumber":0},{}])");
    EXPECT_EQ(CatalogJson::decodeList(text), (CatalogRecords{record, CatalogRecord{}}));
}

TEST(CatalogRecord, EqualityComparesTextsUnderCanonicalEquivalence) {
    CatalogRecord composed, decomposed, emptyDate, otherNumber;
    composed.trackName = "Caf\u00E9";
    decomposed.trackName = "Cafe\u0301";
    emptyDate = composed;
    emptyDate.releaseDate = "";
    otherNumber = composed;
    otherNumber.trackNumber = 1;

    struct Case {
        CatalogRecord a, b;
        bool equal;
    };
    const std::vector<Case> cases = {
        {composed, decomposed, true},
        {composed, emptyDate, false},  // absent differs from empty
        {composed, otherNumber, false},
        {CatalogRecord{}, CatalogRecord{}, true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(cases[i].a == cases[i].b, cases[i].equal) << "case " << i;
        EXPECT_EQ(cases[i].b == cases[i].a, cases[i].equal) << "case " << i;
    }
}

TEST(CatalogRecord, OnlyTracksKeepsExactTrackRecordsInOrder) {
    CatalogRecords answer;
    CatalogRecord album;
    album.wrapperType = "collection";
    answer.push_back(album);
    CatalogRecords expected;
    for (int i = 1; i <= 12; ++i) {
        answer.push_back(track("t" + std::to_string(i)));
        expected.push_back(answer.back());
    }
    CatalogRecord noKind, otherCase = track("x");
    noKind.trackName = "y";
    otherCase.wrapperType = "Track";
    answer.insert(answer.begin() + 5, noKind);
    answer.push_back(otherCase);

    EXPECT_EQ(CatalogJson::onlyTracks(answer), expected);
}

}  // namespace
}  // namespace tarvik
