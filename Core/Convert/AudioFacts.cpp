#include "Core/Convert/AudioFacts.hpp"

#include <utility>

#include "Core/Convert/AudioLength.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"

namespace tarvik::AudioFacts {

bool Facts::tagged() const {
    return !tags.title.empty() || !tags.artist.empty() || namesAlbum();
}

bool Facts::namesAlbum() const {
    return !tags.album.empty() || !tags.albumArtist.empty();
}

std::optional<Facts> read(ByteSource& source, std::stop_token stop) {
    try {
        Facts facts;
        facts.size = source.size();
        if (facts.size == 0) {
            facts.whole = false;  // no audio at all
            return facts;
        }
        CardTags::Tags tags = CardTags::read(source, stop);
        facts.form = tags.form;
        facts.tags = std::move(tags.fields);
        facts.each = std::move(tags.each);
        facts.trailer = std::move(tags.trailer);
        facts.unreadable = tags.unreadable;
        const AudioLength::Reading length = AudioLength::read(source, std::move(stop));
        facts.seconds = length.seconds;
        facts.whole = length.whole;
        return facts;
    } catch (const ConversionError&) {
        return std::nullopt;  // it shrank while it was read
    }
}

std::optional<Facts> read(const std::filesystem::path& file, std::stop_token stop) {
    if (stop.stop_requested()) throw Cancelled();
    std::optional<FileSource> source;
    try {
        source.emplace(file);
    } catch (const ConversionError&) {
        return std::nullopt;  // not there, no regular file, or not readable
    }
    return read(*source, std::move(stop));
}

bool isWhole(const std::optional<Facts>& facts) {
    return facts && facts->whole;
}

std::optional<double> trueSeconds(const Facts& facts) {
    return facts.whole ? facts.seconds : std::nullopt;
}

std::optional<Stray> stray(const std::optional<Facts>& facts) {
    if (!facts) return Stray::untagged;
    if (facts->size == 0) return Stray::empty;
    if (facts->unreadable || facts->namesAlbum()) return std::nullopt;
    return facts->tagged() ? Stray::unnamed : Stray::untagged;
}

}  // namespace tarvik::AudioFacts
