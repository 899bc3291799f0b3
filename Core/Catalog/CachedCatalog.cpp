#include "Core/Catalog/CachedCatalog.hpp"

#include "Core/Catalog/ITunesURL.hpp"

namespace tarvik {

CachedCatalog::CachedCatalog(const std::filesystem::path& contentsOf)
    : responses_(CatalogJson::readStoredAnswers(contentsOf)) {}

CatalogRecords CachedCatalog::answer(const std::string& url) const {
    const auto found = responses_.find(url);
    return found == responses_.end() ? CatalogRecords{} : found->second;
}

// Stored answers never wait, so the stop token has nothing to end.
CatalogRecords CachedCatalog::searchAlbums(const std::string& artist, const std::string& album,
                                           std::stop_token) {
    return answer(ITunesURL::albumSearch(artist, album));
}

CatalogRecords CachedCatalog::lookupTracks(std::int64_t collectionId, std::stop_token) {
    return CatalogJson::onlyTracks(answer(ITunesURL::lookup(collectionId)));
}

CatalogRecords CachedCatalog::searchSongs(const std::string& artist, const std::string& title,
                                          std::stop_token) {
    return answer(ITunesURL::songSearch(artist, title));
}

}  // namespace tarvik
