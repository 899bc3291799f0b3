// One result of the music-catalogue service, the answer envelope that wraps a
// list of them, and the stored-answers file that maps request addresses to
// lists. Plain values, safe to copy across threads. Decoding is strict about
// types (a text where a number belongs fails the whole list) and reports
// DecodingError; reading a stored-answers file also reports ConversionError
// when the file cannot be read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

struct CatalogRecord {
    // Default initialisers let tests and callers name only the fields they set.
    std::optional<std::string> wrapperType{};  // "track" marks a single song
    std::optional<std::string> artistName{};
    std::optional<std::string> collectionName{};
    std::optional<std::string> collectionArtistName{};
    std::optional<std::int64_t> collectionId{};
    std::optional<std::string> trackName{};
    std::optional<std::int64_t> trackNumber{};
    std::optional<std::int64_t> discNumber{};
    std::optional<std::string> releaseDate{};
    std::optional<std::string> primaryGenreName{};

    // Field by field; texts compare under canonical equivalence, and an absent
    // text never equals a present one, not even an empty one.
    bool operator==(const CatalogRecord& other) const;

    // Missing keys and nulls give absent fields; unknown keys are ignored.
    static CatalogRecord fromJson(const nlohmann::json& value, const std::string& path = {});
    // Only the present fields, under their own names.
    nlohmann::json toJson() const;
};

using CatalogRecords = std::vector<CatalogRecord>;

// The service's answer: {"results": [...]}; "results" is required.
struct Envelope {
    CatalogRecords results;

    static Envelope decode(std::string_view body);
};

namespace CatalogJson {

// A bare JSON array of records, the form answers are stored in.
CatalogRecords decodeList(const nlohmann::json& value, const std::string& path);
CatalogRecords decodeList(std::string_view text);
// Compact, absent fields left out. Throws nlohmann::json::exception for text
// that is not UTF-8.
std::string encodeList(const CatalogRecords& records);

// A file holding one JSON object from request address to a list of records.
// Keys stay byte for byte as written: they are compared with addresses that
// were built byte for byte.
using StoredAnswers = std::map<std::string, CatalogRecords, std::less<>>;
StoredAnswers readStoredAnswers(const std::filesystem::path& file);

// The records whose wrapperType is exactly "track", in their order.
CatalogRecords onlyTracks(CatalogRecords records);

// Whether a lookup's answer is about the collection asked for: no record names
// another one. A service or a proxy that mixes answers up would otherwise
// retitle an album after someone else's.
bool answersFor(const CatalogRecords& records, std::int64_t collectionId);

}  // namespace CatalogJson
}  // namespace tarvik
