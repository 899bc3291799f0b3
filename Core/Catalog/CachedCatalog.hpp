// A music catalogue that never asks the service: it answers from a fixed table
// of stored answers keyed by the very request addresses the client would
// send, so title fixing and tidy planning can run against known answers with
// no network and no database. Immutable after creation, so any number of
// threads may ask at once; a question without a stored answer gets the empty
// list.
#pragma once

#include <filesystem>

#include "Core/Catalog/CatalogRecord.hpp"
#include "Core/Catalog/MusicCatalog.hpp"

namespace tarvik {

class CachedCatalog final : public MusicCatalog {
public:
    using Responses = CatalogJson::StoredAnswers;

    explicit CachedCatalog(Responses responses = {}) : responses_(std::move(responses)) {}
    // Reads a file of one JSON object from address to list of records (the
    // older cache file has this form). Throws ConversionError when the file
    // cannot be read and DecodingError when it is not such an object.
    explicit CachedCatalog(const std::filesystem::path& contentsOf);

    const Responses& responses() const { return responses_; }

    CatalogRecords searchAlbums(const std::string& artist, const std::string& album,
                                std::stop_token stop) override;
    CatalogRecords lookupTracks(std::int64_t collectionId, std::stop_token stop) override;
    CatalogRecords searchSongs(const std::string& artist, const std::string& title,
                               std::stop_token stop) override;

private:
    CatalogRecords answer(const std::string& url) const;

    const Responses responses_;
};

}  // namespace tarvik
