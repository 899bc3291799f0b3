// The one way every user reaches a music catalogue: album search, the songs of
// one album, and song search. Implementations must be safe to call from any
// number of threads at once and never throw: trouble of any kind (no network,
// a refusal, an undecodable answer, a switched-off client, a fired stop token)
// gives the empty list, so an empty list means "keep the local data". The
// stop token is the caller's run; an implementation that waits (pacing,
// retries, the network) ends those waits when it fires.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "Core/Catalog/CatalogRecord.hpp"

namespace tarvik {

class MusicCatalog {
public:
    virtual ~MusicCatalog() = default;

    // Albums, with the artist and the album title as the search term.
    virtual CatalogRecords searchAlbums(const std::string& artist, const std::string& album,
                                        std::stop_token stop) = 0;
    // The songs of one album: only records whose wrapperType is "track".
    virtual CatalogRecords lookupTracks(std::int64_t collectionId, std::stop_token stop) = 0;
    // Songs, with the artist and the song title as the search term.
    virtual CatalogRecords searchSongs(const std::string& artist, const std::string& title,
                                       std::stop_token stop) = 0;
};

}  // namespace tarvik
