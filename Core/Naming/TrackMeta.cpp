#include "Core/Naming/TrackMeta.hpp"

#include <set>
#include <utility>
#include <vector>

#include "Core/Naming/FilenameGuesser.hpp"
#include "Core/Naming/TextNormalizer.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

// Tags that list one name several times ("A; A") give that name once; a list
// of different names, or one with no names at all, stays as it was.
std::string collapse(const std::string& value) {
    if (value.find(';') == std::string::npos) return value;
    std::vector<std::string> pieces;
    std::set<std::string> distinct;
    for (std::size_t start = 0; start <= value.size();) {
        std::size_t end = value.find(';', start);
        if (end == std::string::npos) end = value.size();
        std::string piece = text::trim(std::string_view(value).substr(start, end - start));
        if (!piece.empty()) {
            distinct.insert(piece);
            pieces.push_back(std::move(piece));
        }
        start = end + 1;
    }
    return distinct.size() == 1 ? pieces.front() : value;
}

std::string stripZeros(const std::string& number) {
    if (number.empty()) return number;
    const std::size_t first = number.find_first_not_of('0');
    return first == std::string::npos ? "0" : number.substr(first);
}

// A path component as text; "/" and an absent folder give the empty text.
std::string nameOf(const std::filesystem::path& path) {
    return path.has_relative_path() ? path.filename().string() : std::string();
}

const char* const memberNames[] = {"title", "artist", "albumArtist", "album",
                                   "track", "disc",   "date",        "genre"};

template <typename Meta, typename Visit>
void forEachMember(Meta& meta, Visit visit) {
    decltype(&meta.title) members[] = {&meta.title, &meta.artist, &meta.albumArtist, &meta.album,
                                       &meta.track, &meta.disc,   &meta.date,        &meta.genre};
    for (std::size_t i = 0; i < 8; ++i) visit(memberNames[i], *members[i]);
}

}  // namespace

TrackMeta::TrackMeta(std::string title_, std::string artist_, std::string albumArtist_,
                     std::string album_, std::string track_, std::string disc_, std::string date_,
                     std::string genre_)
    : title(std::move(title_)),
      artist(std::move(artist_)),
      albumArtist(std::move(albumArtist_)),
      album(std::move(album_)),
      track(std::move(track_)),
      disc(std::move(disc_)),
      date(std::move(date_)),
      genre(std::move(genre_)) {}

TrackMeta::TrackMeta(const SourceTags& tags, const std::filesystem::path& url) {
    using TextNormalizer::clean;
    const std::filesystem::path albumFolder = url.parent_path();
    const std::filesystem::path artistFolder = albumFolder.parent_path();

    artist = collapse(clean(tags.artist));
    if (artist.empty()) artist = clean(nameOf(artistFolder));

    // The raw tag is what a file name would carry after its title.
    const FilenameGuesser::Guess guess =
        FilenameGuesser::guess(nameOf(url), tags.artist.empty() ? artist : tags.artist);

    title = clean(tags.title);
    if (title.empty()) title = clean(guess.title);
    track = stripZeros(tags.track);
    if (track.empty()) track = guess.track;
    albumArtist = collapse(clean(tags.albumArtist));
    if (albumArtist.empty()) albumArtist = artist;
    album = clean(tags.album);
    if (album.empty()) album = clean(nameOf(albumFolder));
    disc = stripZeros(tags.disc);
    date = tags.date;
    genre = clean(tags.genre);
}

bool TrackMeta::operator==(const TrackMeta& other) const {
    return text::equivalent(title, other.title) && text::equivalent(artist, other.artist) &&
           text::equivalent(albumArtist, other.albumArtist) &&
           text::equivalent(album, other.album) && text::equivalent(track, other.track) &&
           text::equivalent(disc, other.disc) && text::equivalent(date, other.date) &&
           text::equivalent(genre, other.genre);
}

nlohmann::json TrackMeta::toJSON() const {
    nlohmann::json value = nlohmann::json::object();
    forEachMember(*this,
                  [&](const char* name, const std::string& member) { value[name] = member; });
    return value;
}

TrackMeta TrackMeta::fromJSON(const nlohmann::json& value, const std::string& path) {
    const json::ObjectReader reader(value, path);
    TrackMeta meta;
    forEachMember(meta,
                  [&](const char* name, std::string& member) { member = reader.string(name); });
    return meta;
}

void to_json(nlohmann::json& value, const TrackMeta& meta) {
    value = meta.toJSON();
}

void from_json(const nlohmann::json& value, TrackMeta& meta) {
    meta = TrackMeta::fromJSON(value);
}

}  // namespace tarvik

std::size_t std::hash<tarvik::TrackMeta>::operator()(const tarvik::TrackMeta& meta) const {
    std::size_t seed = 0;
    const std::hash<std::string> hashText;
    tarvik::forEachMember(meta, [&](const char*, const std::string& member) {
        seed ^=
            hashText(tarvik::text::nfc(member)) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    });
    return seed;
}
