#include "Core/Naming/SourceTags.hpp"

#include "Core/Platform/Text.hpp"

namespace tarvik {

bool SourceTags::operator==(const SourceTags& other) const {
    return text::equivalent(title, other.title) && text::equivalent(artist, other.artist) &&
           text::equivalent(albumArtist, other.albumArtist) &&
           text::equivalent(album, other.album) && text::equivalent(track, other.track) &&
           text::equivalent(disc, other.disc) && text::equivalent(date, other.date) &&
           text::equivalent(genre, other.genre);
}

}  // namespace tarvik
