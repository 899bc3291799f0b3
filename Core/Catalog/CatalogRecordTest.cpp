#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Core/Catalog/CatalogRecord.hpp"
#include "Core/Platform/Json.hpp"

namespace tarvik {
namespace {

TEST(CatalogRecord, EnvelopeDecoding) {
    const CatalogRecord full{.wrapperType = "track",
                             .artistName = "Artist",
                             .collectionName = "Album",
                             .collectionArtistName = "Various Artists",
                             .collectionId = 9007199254740993,  // more than a double holds
                             .trackName = "曲名",
                             .trackNumber = 3,
                             .discNumber = 1,
                             .releaseDate = "2011-03-04T07:00:00Z",
                             .primaryGenreName = "J-Pop"};
    struct Case {
        std::string body;
        std::optional<CatalogRecords> expected;  // absent: undecodable
    };
    const std::vector<Case> cases = {
        {R"({"results": []})", CatalogRecords{}},
        {R"({"resultCount": 1, "results": [{}, {"artistName": null}]})", CatalogRecords(2)},
        {R"({"results": [{"wrapperType": "track", "artistName": "Artist",
            "collectionName": "Album", "collectionArtistName": "Various Artists",
            "collectionId": 9007199254740993, "trackName": "曲名", "trackNumber": 3,
            "discNumber": 1.0, "releaseDate": "2011-03-04T07:00:00Z",
            "primaryGenreName": "J-Pop", "trackPrice": 250}]})",
         CatalogRecords{full}},
        {R"({"results": [{}, {"trackNumber": "5"}]})", std::nullopt},
        {R"({"results": [{"trackNumber": 5.5}]})", std::nullopt},
        {R"({"results": [{"artistName": 5}]})", std::nullopt},
        {R"({"results": [{"collectionId": 9223372036854775808}]})", std::nullopt},
        {R"({"results": null})", std::nullopt},
        {R"({"resultCount": 0})", std::nullopt},
        {"<html>busy</html>", std::nullopt},
        {R"({"results": [{"trackNumber": 1e400}]})", std::nullopt},
    };
    for (const Case& c : cases) {
        if (c.expected) {
            EXPECT_EQ(Envelope::decode(c.body).results, *c.expected) << c.body;
        } else {
            EXPECT_THROW(Envelope::decode(c.body), DecodingError) << c.body;
        }
    }
}

TEST(CatalogRecord, EqualityComparesTextsUnderCanonicalEquivalence) {
    const CatalogRecord composed{.trackName = "Caf\u00E9"};
    EXPECT_EQ(composed, CatalogRecord{.trackName = "Cafe\u0301"});
    EXPECT_NE(composed, (CatalogRecord{.trackName = "Caf\u00E9", .releaseDate = ""}));
    EXPECT_NE(composed, (CatalogRecord{.trackName = "Caf\u00E9", .trackNumber = 1}));
}

}  // namespace
}  // namespace tarvik
