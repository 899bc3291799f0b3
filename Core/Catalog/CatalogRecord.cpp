#include "Core/Catalog/CatalogRecord.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

bool sameText(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || text::equivalent(*a, *b);
}

template <typename T>
void putIfPresent(nlohmann::json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

std::string readWholeFile(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        throw ConversionError(fileSystemMessage("読み込めません: ", file.string(), errno));
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(descriptor);
            throw ConversionError(fileSystemMessage("読み込めません: ", file.string(), error));
        }
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(descriptor);
    return content;
}

}  // namespace

bool CatalogRecord::operator==(const CatalogRecord& other) const {
    return sameText(wrapperType, other.wrapperType) && sameText(artistName, other.artistName) &&
           sameText(collectionName, other.collectionName) &&
           sameText(collectionArtistName, other.collectionArtistName) &&
           collectionId == other.collectionId && sameText(trackName, other.trackName) &&
           trackNumber == other.trackNumber && discNumber == other.discNumber &&
           sameText(releaseDate, other.releaseDate) &&
           sameText(primaryGenreName, other.primaryGenreName);
}

CatalogRecord CatalogRecord::fromJson(const nlohmann::json& value, const std::string& path) {
    const json::ObjectReader reader(value, path);
    CatalogRecord record;
    record.wrapperType = reader.optionalString("wrapperType");
    record.artistName = reader.optionalString("artistName");
    record.collectionName = reader.optionalString("collectionName");
    record.collectionArtistName = reader.optionalString("collectionArtistName");
    record.collectionId = reader.optionalInteger("collectionId");
    record.trackName = reader.optionalString("trackName");
    record.trackNumber = reader.optionalInteger("trackNumber");
    record.discNumber = reader.optionalInteger("discNumber");
    record.releaseDate = reader.optionalString("releaseDate");
    record.primaryGenreName = reader.optionalString("primaryGenreName");
    return record;
}

nlohmann::json CatalogRecord::toJson() const {
    nlohmann::json object = nlohmann::json::object();
    putIfPresent(object, "wrapperType", wrapperType);
    putIfPresent(object, "artistName", artistName);
    putIfPresent(object, "collectionName", collectionName);
    putIfPresent(object, "collectionArtistName", collectionArtistName);
    putIfPresent(object, "collectionId", collectionId);
    putIfPresent(object, "trackName", trackName);
    putIfPresent(object, "trackNumber", trackNumber);
    putIfPresent(object, "discNumber", discNumber);
    putIfPresent(object, "releaseDate", releaseDate);
    putIfPresent(object, "primaryGenreName", primaryGenreName);
    return object;
}

Envelope Envelope::decode(std::string_view body) {
    const nlohmann::json document = json::parse(body);
    const json::ObjectReader reader(document);
    if (!reader.contains("results")) {
        throw DecodingError(DecodingError::Kind::keyNotFound, "results", {});
    }
    return Envelope{CatalogJson::decodeList(document.at("results"), "results")};
}

namespace CatalogJson {

CatalogRecords decodeList(const nlohmann::json& value, const std::string& path) {
    if (value.is_null()) throw DecodingError(DecodingError::Kind::valueNotFound, path, {});
    if (!value.is_array()) {
        throw DecodingError(DecodingError::Kind::typeMismatch, path, "配列が必要です");
    }
    CatalogRecords records;
    records.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        records.push_back(CatalogRecord::fromJson(value[i], path + "[" + std::to_string(i) + "]"));
    }
    return records;
}

CatalogRecords decodeList(std::string_view text) {
    return decodeList(json::parse(text), {});
}

std::string encodeList(const CatalogRecords& records) {
    nlohmann::json array = nlohmann::json::array();
    for (const CatalogRecord& record : records) array.push_back(record.toJson());
    return array.dump();
}

StoredAnswers readStoredAnswers(const std::filesystem::path& file) {
    const nlohmann::json document = json::parse(readWholeFile(file));
    if (!document.is_object()) {
        throw DecodingError(DecodingError::Kind::typeMismatch, {}, "オブジェクトが必要です");
    }
    StoredAnswers answers;
    for (const auto& [address, list] : document.items()) {
        answers.emplace(address, decodeList(list, address));
    }
    return answers;
}

CatalogRecords onlyTracks(CatalogRecords records) {
    std::erase_if(records, [](const CatalogRecord& record) {
        return record.wrapperType != std::optional<std::string>("track");
    });
    return records;
}

bool answersFor(const CatalogRecords& records, std::int64_t collectionId) {
    return std::ranges::all_of(records, [collectionId](const CatalogRecord& record) {
        return !record.collectionId || *record.collectionId == collectionId;
    });
}

}  // namespace CatalogJson
}  // namespace tarvik
