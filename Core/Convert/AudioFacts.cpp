#include "Core/Convert/AudioFacts.hpp"

#include <algorithm>
#include <utility>

#include "Core/Convert/AudioLength.hpp"
#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::AudioFacts {
namespace {

using Field = TagFields::Field;

SourceTags fieldsOf(const TagFields::Values& values) {
    const auto value = [&](Field field) {
        const auto found = values.find(field);
        return found == values.end() ? std::string() : found->second.value_or(std::string());
    };
    SourceTags tags;
    tags.title = value(Field::title);
    tags.artist = value(Field::artist);
    tags.albumArtist = value(Field::albumArtist);
    tags.album = value(Field::album);
    tags.track = value(Field::track);
    return tags;
}

// A 30-byte field of the ID3v1 trailer.
std::string trailerField(const Bytes& trailer, std::size_t at) {
    const auto begin = trailer.begin() + static_cast<std::ptrdiff_t>(at);
    return latin1Text(begin, begin + 30);
}

// The tags in the first form the file holds that gives any.
void readTags(FileSource& file, const std::string& name, Facts& facts) {
    try {
        const Bytes head = id3::readHead(file);
        if (!head.empty()) facts.tags = fieldsOf(TagFields::readID3(head));
        if (facts.tagged()) {
            facts.form = Facts::Form::id3v2;
            return;
        }
    } catch (const ConversionError&) {
        facts.tags = {};  // a tag that can't be walked tells nothing
    }
    const Bytes type = file.read(4, 4);
    if (type == Bytes{'f', 't', 'y', 'p'}) {
        try {
            facts.tags = fieldsOf(TagFields::readM4A(file, name));
            if (facts.tagged()) facts.form = Facts::Form::mp4;
        } catch (const ConversionError&) {
            facts.tags = {};
        }
        return;
    }
    if (facts.size < 128) return;
    Bytes trailer = file.read(facts.size - 128, 128);
    if (trailer.size() != 128 || !std::equal(trailer.begin(), trailer.begin() + 3, "TAG")) return;
    facts.tags = {};
    facts.tags.title = trailerField(trailer, 3);
    facts.tags.artist = trailerField(trailer, 33);
    facts.tags.album = trailerField(trailer, 63);
    if (facts.tagged()) facts.form = Facts::Form::id3v1;
    facts.trailer = std::move(trailer);
}

}  // namespace

std::string latin1Text(Bytes::const_iterator begin, Bytes::const_iterator end) {
    std::u32string scalars(begin, end);
    while (!scalars.empty() && (scalars.back() == 0 || scalars.back() == U' ')) scalars.pop_back();
    return text::fromScalars(scalars);
}

bool Facts::tagged() const {
    return !tags.title.empty() || !tags.artist.empty() || !tags.album.empty() ||
           !tags.albumArtist.empty();
}

std::optional<Facts> read(const std::filesystem::path& file, std::stop_token stop) {
    try {
        FileSource source(file);
        Facts facts;
        facts.size = source.size();
        if (facts.size == 0) return facts;
        readTags(source, file.filename().string(), facts);
        if (facts.form != Facts::Form::id3v1) facts.trailer.clear();
        facts.seconds = AudioLength::seconds(source, std::move(stop));
        return facts;
    } catch (const ConversionError&) {
        return std::nullopt;  // not a regular file, or it shrank while it was read
    }
}

bool isStray(const std::filesystem::path& file, const std::optional<Facts>& facts) {
    if (!facts || facts->size == 0) return true;
    const std::string extension = text::lower(file.extension().string());
    return !facts->tagged() && (extension == ".mp3" || extension == ".m4a");
}

}  // namespace tarvik::AudioFacts
