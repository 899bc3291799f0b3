// Reading and rewriting single tag fields of an MP3, FLAC or M4A file with
// their values exactly as the file holds them, for edits that must be undone
// to the letter: only the fields named change, and every other frame,
// comment, block and atom stays as it was, byte for byte where the format
// allows (M4A items are rendered again by TagLib). Only the tags are held in
// memory; the rest of the file is copied in chunks into a hidden temporary
// file that then replaces the destination. Stateless, any thread; failures
// throw ConversionError and leave the destination as it was.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/ByteStreams.hpp"
#include "Core/Platform/FileStreams.hpp"

namespace tarvik::TagFields {

enum class Field { title, artist, albumArtist, album, track, disc, date, genre };

inline constexpr std::array<Field, 8> allFields = {Field::title, Field::artist, Field::albumArtist,
                                                   Field::album, Field::track,  Field::disc,
                                                   Field::date,  Field::genre};

// The TrackMeta member name: "title", "albumArtist", …
std::string rawValue(Field field);
std::optional<Field> fieldFromRaw(std::string_view raw);
const std::string& member(const TrackMeta& meta, Field field);

// A field's value as the file holds it: several values joined by U+0000,
// track and disc with their total ("3/12"); nothing when the file lacks the
// field. Text that is not valid in its encoding is kept as raw bytes (not
// valid UTF-8), so that nobody mistakes a replacement for the original.
using Values = std::map<Field, std::optional<std::string>>;

// Every field of the file. Throws for a format other than mp3, flac and m4a
// ("この形式のタグは書き換えられません: " + name) and for damaged tags.
Values read(const std::filesystem::path& file);

// One of a field's frames as it stood: its index among the tag's frames
// (in a FLAC file, among all comments), and its bytes, header included (a
// comment whole, its key spelled as it was).
struct KeptFrame {
    std::uint64_t index = 0;
    Bytes raw;
    // A FLAC comment's block, counted among the comment blocks: a comment
    // that opened a later block goes back there, not to the end of the one
    // before. Absent in journals of older versions, and for other formats.
    std::optional<std::uint64_t> block = std::nullopt;

    bool operator==(const KeptFrame&) const = default;
};

// Where a field's frame stands in an MP3's ID3v2 tag (its index among the
// frames) and its two flag bytes: what a value does not say, and what a
// frame that a patch removed needs to come back as it was. `frames` holds
// every frame of the field, the first one included: a tag may hold a field
// several times (some taggers write a list so), a FLAC comment's value may
// hold what reads as several, and a patch keeps one. Empty in journals of
// older versions.
struct FramePlace {
    std::uint64_t index = 0;
    std::uint16_t flags = 0;
    std::vector<KeptFrame> frames = {};

    bool operator==(const FramePlace&) const = default;
};
using FramePlaces = std::map<Field, FramePlace>;

// Every field as it must be written back to give the file's bytes again,
// whatever form a new value takes meanwhile: in an MP3, each frame's whole
// body behind the marker 0xFF (see TagFieldsID3), with the frame's place;
// in a FLAC file the values `read` gives, with the places of the field's
// comments among all comments (flags 0); in an M4A file each field's items
// whole behind the marker 0xFF, with their places among the items.
// `hasTag`: whether the file has the tag a patch writes into (an MP3's
// ID3v2 tag holding any text a reader takes, a FLAC file's comment block,
// an M4A file's item list), so that an undo can take away what a patch
// added; `trailer`: an MP3's ID3v1 trailer, 128 bytes; `addedAtom`: the
// atom that a patch adds to an M4A file without a list to hold one (see
// mp4::listHolder). Throws as read.
struct Snapshot {
    Values values = {};
    FramePlaces places = {};
    bool hasTag = true;
    std::optional<Bytes> trailer = std::nullopt;
    std::optional<std::string> addedAtom = std::nullopt;
};
Snapshot snapshot(const std::filesystem::path& file);

// What an undo knows of a file before an earlier patch: an MP3's size, so
// that its tag's padding is made to fit it again where the frames allow,
// and the places its fields had. A field set to the value its kept frames
// hold gets those frames back, each where it stood; else an MP3's field
// whose frame the patch removed goes back at its place with its flags
// (fields without a place go to the end of the tag). `tagAdded`: the file
// had no tag of the kind the patch wrote (see Snapshot::hasTag); what the
// patch added goes again where it holds nothing but what the patch made of
// the file (a FLAC block without comments and with our vendor; the frames
// of an ID3v2 tag made from `trailer`, and the tag with them where the
// file had none). `trailer`: an MP3's ID3v1 trailer as it was, put back.
// `addedAtom`: the atom the patch added to an M4A file to hold its list,
// taken away once the list is empty.
struct Before {
    std::optional<std::uint64_t> size = std::nullopt;
    FramePlaces places = {};
    bool tagAdded = false;
    std::optional<Bytes> trailer = std::nullopt;
    std::optional<std::string> addedAtom = std::nullopt;
};

// Writes the source with the given fields set (U+0000 separates several
// values; nothing removes the field) to the destination. A track or disc
// value without "/" keeps the total the file has. `before`, when an undo
// gives it, is what an MP3 was before an earlier patch, so that undoing
// gives the old bytes. `seen`, when given, is the source as the caller
// checked it: a source saved since throws FileChangedMeanwhile (see
// FileSource), and an edit in place (the destination is the source)
// commits only over that file, and tells `beforeReplacing` (see
// AtomicFileSink) its new content. An MP3 whose tag would grow past the
// format's limit is refused ("タグが ID3 タグの上限（256 MiB）を超えるため、
// 書き換えません: " + name).
void patch(const std::filesystem::path& source, const Values& values,
           const std::filesystem::path& destination, const Before& before = {},
           const std::optional<FileIdentity>& seen = std::nullopt,
           const BeforeReplacing& beforeReplacing = {});

// The per-format work. readID3 and snapshotID3 take the file's head (or the
// whole file).
Values readID3(const Bytes& head);
Snapshot snapshotID3(const Bytes& head);
void patchID3(ByteSource& file, const Values& values, const Before& before,
              std::string_view fileName, ByteSink& out);
// In memory, as tests and fuzz targets take it.
Bytes patchID3(const Bytes& file, const Values& values, const Before& before = {},
               std::string_view fileName = {});
Values readFLAC(ByteSource& file, std::string_view fileName);
Snapshot snapshotFLAC(ByteSource& file, std::string_view fileName);
void patchFLAC(ByteSource& file, const Values& values, const Before& before,
               std::string_view fileName, ByteSink& out);
Values readM4A(const std::filesystem::path& file);
Values readM4A(ByteSource& file, std::string_view fileName);
Snapshot snapshotM4A(ByteSource& file, std::string_view fileName);
void patchM4A(const std::filesystem::path& source, const Values& values,
              const std::filesystem::path& destination, const Before& before = {},
              const std::optional<FileIdentity>& seen = std::nullopt,
              const BeforeReplacing& beforeReplacing = {});

// `value` with the total of `old` ("4" and "3/12" give "4/12") unless it
// has its own.
std::string withTotal(const std::string& value, const std::optional<std::string>& old);

}  // namespace tarvik::TagFields
