// Reading and changing an M4A file's item list through TagLib without ever
// letting TagLib near a damaged file or the user's own file: the atom tree is
// checked first, TagLib changes a copy of the "moov" atom in memory (see
// MovieStream), and the file is put together again in a hidden temporary
// copy beside the destination, the audio copied as it was (holes kept). The
// copy replaces the destination only when every item not changed and the
// audio (the media data and where the chunks point) read back as they were.
// Stateless, any thread; failures throw ConversionError and leave the
// destination as it was.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Platform/ByteStreams.hpp"
#include "Core/Platform/FileStreams.hpp"

namespace TagLib::MP4 {
class Tag;
}

namespace tarvik::m4a {

using Look = std::function<void(TagLib::MP4::Tag&)>;

// The file's tag, read-only, after the atom tree was checked.
void read(const std::filesystem::path& file, const Look& look);
void read(ByteSource& file, std::string_view fileName, const Look& look);

// `change` may set or remove only the items named in `changedItems`;
// `newTagBytes` is the size of the texts it writes; `seen`: see FileSource;
// `beforeReplacing`: see AtomicFileSink.
// Refused besides what inspect refuses: a fragmented file ("分割された M4A
// は書き換えません: " + name), items TagLib would drop or change, and a
// result larger than the source by more than the new tag and 1 MiB. Every
// refusal names the file.
void edit(const std::filesystem::path& source, const std::filesystem::path& destination,
          const std::vector<std::string>& changedItems, std::uint64_t newTagBytes,
          const Look& change, const std::optional<FileIdentity>& seen = std::nullopt,
          const BeforeReplacing& beforeReplacing = {});

// The steps of edit, apart, for whoever checks them on bytes in memory.
struct Movie;
// As above, with the new moov made by `make` from the source and its
// layout (see editable) rather than by TagLib.
using MakeMovie = std::function<Movie(ByteSource&, const mp4::Layout&)>;
void edit(const std::filesystem::path& source, const std::filesystem::path& destination,
          const MakeMovie& make, const std::optional<FileIdentity>& seen = std::nullopt,
          const BeforeReplacing& beforeReplacing = {});

// The layout of a file that may be edited (inspect, then the refusals above).
mp4::Layout editable(ByteSource& source, std::string_view fileName);
// The "moov" atom with its tag changed by TagLib, in memory, and which of
// the items `change` may touch the tag holds afterwards.
struct Movie {
    Bytes bytes;
    std::vector<std::string> changedItems;
    std::vector<std::string> heldItems;  // set rather than removed
};
Movie changeMovie(ByteSource& source, const mp4::Layout& layout, std::string_view fileName,
                  const std::vector<std::string>& changedItems, std::uint64_t newTagBytes,
                  const Look& change);
// The source with its moov replaced by `movie`: everything else is copied as
// it was (holes kept), and what followed the moov moves with its end.
void assemble(ByteSource& source, const mp4::Layout& layout, const Bytes& movie, ByteSink& out);
// Throws unless `after` has one moov, every item of `old` not changed byte
// for byte (else the message names the items), exactly the changed items
// the movie held, the same media data, and every chunk offset moved with its
// media data.
void verify(ByteSource& before, const mp4::Layout& old, ByteSource& after, const Movie& movie,
            std::string_view fileName);

}  // namespace tarvik::m4a
