// Rewrites the eight track tags (title, artist, album, album artist, track,
// disc, date, genre) of an existing MP3, FLAC or M4A file from a TrackMeta and
// keeps everything else: other tags, pictures and the audio. The source is
// only read; the result goes to the destination the caller names, which ends
// up holding either its old content or the whole result (built in a hidden
// ".tarvik-" + UUID + ".part" beside it). Only the tags are held in memory:
// the audio is copied in chunks, and a file that is not what its name says
// is refused after its head is read. Stateless, any thread; failures throw
// ConversionError.
#pragma once

#include <array>
#include <filesystem>
#include <string_view>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::TagEditor {

// Lower case, without the dot.
inline constexpr std::array<std::string_view, 3> editableExtensions = {"mp3", "flac", "m4a"};

// Whether the file's extension, lower-cased, is one of editableExtensions.
bool canEdit(const std::filesystem::path& file);

// Dispatches on the source's extension.
void write(const std::filesystem::path& source, const TrackMeta& meta,
           const std::filesystem::path& destination);

// MP3: the ID3v2.3 or 2.4 tag is rebuilt (a file without one gets 2.3), other
// frames kept raw and in order after the new ones; an ID3v1 trailer, when the
// file has one, is rebuilt too. A tag whose frames run past it, or whose
// padding holds anything but zeros, is refused: the walk would lose frames;
// so is a tag that would grow past the format's limit, by the file's name.
void writeID3(const std::filesystem::path& source, const TrackMeta& meta,
              const std::filesystem::path& destination);
void rewriteID3(ByteSource& file, const TrackMeta& meta, std::string_view fileName, ByteSink& out);
Bytes rewriteID3(const Bytes& file, const TrackMeta& meta, std::string_view fileName = {});

// FLAC: see FLACComments::rewrite.
void writeFLAC(const std::filesystem::path& source, const TrackMeta& meta,
               const std::filesystem::path& destination);

// M4A: the eight items are set through TagLib (an empty value removes one)
// and every other item is written back as it was, track and disc totals
// included; see M4AEdit for the checks before and after. Refused: a file that
// isn't MP4, a damaged atom tree ("タグが壊れています: " + name), forms it
// does not read (free space among the items, a QuickTime-style "meta", no
// audio; see mp4::inspect), a fragmented file ("分割された M4A は書き換え
// ません: " + name), freeform items whose name holds ":" (TagLib would drop them), a
// result that grew by more than the new tag and 1 MiB, items that don't read
// back as they were (named in the message), and any result whose audio
// doesn't.
void writeM4A(const std::filesystem::path& source, const TrackMeta& meta,
              const std::filesystem::path& destination);

}  // namespace tarvik::TagEditor
