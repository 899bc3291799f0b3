// The ID3v2 walk of both tag editors on any bytes taken as a whole MP3: the
// field reader, the field editor and the whole-tag rewrite. What an editor
// writes must read back with the title it was given; the field editor must
// leave every other field as it read it, and every value it read must go
// back as the frame it was read from, byte for byte: when the values are
// written back as they are; and a snapshot's, when the old title is written
// back over a new one and a removed genre comes back (as an undo does), in
// its place, with the later frames of both. A file with only an ID3v1
// trailer gets a tag that says what the trailer says, and the undo gives
// the file back byte for byte.
#include <algorithm>
#include <optional>

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/ID3v1.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Fuzz.hpp"

namespace tarvik {
namespace {

using TagFields::Field;

void expectTitle(const Bytes& written, const std::string& title) {
    const std::optional<std::string> read = TagFields::readID3(written).at(Field::title);
    if (read != title) throw fuzz::Finding("the title written does not read back");
}

// A frame as compared: its size as the writer writes it. A syncsafe size
// with high bits set reads as the same size; it tells nothing of the value,
// and a frame written again has it plain.
Bytes compared(const id3::Frame& frame, int major) {
    Bytes raw = id3::frame(frame.id, id3::frameBody(frame),
                           major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3);
    raw[8] = frame.raw[8];
    raw[9] = frame.raw[9];
    return raw;
}

// Every frame of `written` but those of `renewed` is one of `file`'s, byte
// for byte: a patch may drop a field's later frames, but never change the
// bytes of a value read. (A frame removed and written anew has no old form
// to take: only its value counts.)
void expectFramesOf(const Bytes& file, const Bytes& written, std::string_view renewed,
                    const char* what) {
    const id3::ParsedTag before = id3::parseTag(file);
    std::vector<Bytes> left;
    for (const id3::Frame& frame : before.frames) left.push_back(compared(frame, before.major));
    for (const id3::Frame& frame : id3::parseTag(written).frames) {
        if (frame.id == renewed) continue;
        const auto same = std::find(left.begin(), left.end(), compared(frame, before.major));
        if (same == left.end()) throw fuzz::Finding(what);
        left.erase(same);
    }
}

// The frames of `file` and `written`, in order: an undo puts back a
// field's later frames too.
void expectSameFrames(const Bytes& file, const Bytes& written, const char* what) {
    const id3::ParsedTag before = id3::parseTag(file), after = id3::parseTag(written);
    if (before.frames.size() != after.frames.size()) throw fuzz::Finding(what);
    for (std::size_t i = 0; i < before.frames.size(); ++i) {
        if (compared(before.frames[i], before.major) != compared(after.frames[i], before.major)) {
            throw fuzz::Finding(what);
        }
    }
}

// What a file without an ID3v2 tag reads as once a patch gave it one: the
// fields its ID3v1 trailer holds.
TagFields::Values fromTrailer(const Bytes& trailer) {
    Bytes frames;
    for (const id3::Frame& frame : id3v1::frames(trailer, 3)) {
        frames.insert(frames.end(), frame.raw.begin(), frame.raw.end());
    }
    Bytes tag = {'I', 'D', '3', 3, 0, 0};
    const auto size = id3::syncsafe(static_cast<std::uint32_t>(frames.size()));
    tag.insert(tag.end(), size.begin(), size.end());
    tag.insert(tag.end(), frames.begin(), frames.end());
    return TagFields::readID3(tag);
}

void run(std::span<const std::uint8_t> data) {
    const Bytes file(data.begin(), data.end());
    std::optional<TagFields::Values> before;
    std::optional<TagFields::Snapshot> snapshot;
    std::optional<Bytes> trailer;
    try {
        before = TagFields::readID3(file);
        snapshot = TagFields::snapshotID3(file);
        MemorySource source(file);
        trailer = id3v1::trailer(source, id3::parseTag(file).audioStart);
    } catch (const ConversionError&) {
    }
    try {
        MemorySource source(file);
        (void)id3::readHead(source);
    } catch (const ConversionError&) {
    }

    std::optional<Bytes> again;
    try {
        if (before) again = TagFields::patchID3(file, *before);
    } catch (const ConversionError&) {
    }
    if (again) {
        if (TagFields::readID3(*again) != *before) throw fuzz::Finding("a value read changed");
        expectFramesOf(file, *again, "", "a value read went back as other bytes");
    }

    std::optional<Bytes> patched;
    try {
        patched = TagFields::patchID3(file, {{Field::title, "Fuzz"}, {Field::genre, std::nullopt}});
    } catch (const ConversionError&) {
    }
    if (patched) expectTitle(*patched, "Fuzz");
    if (patched && before) {
        if (!snapshot) throw fuzz::Finding("a tag read gave no snapshot");
        // A tag added in front of a trailer says what the trailer says.
        const TagFields::Values shown =
            !snapshot->hasTag && trailer ? fromTrailer(*trailer) : *before;
        TagFields::Values after = TagFields::readID3(*patched);
        after[Field::title] = shown.at(Field::title);
        after[Field::genre] = shown.at(Field::genre);
        if (after != shown) throw fuzz::Finding("a field not named changed");
        TagFields::Before undoing{file.size(), {}, !snapshot->hasTag, trailer};
        for (Field field : {Field::title, Field::genre}) {
            if (const auto place = snapshot->places.find(field); place != snapshot->places.end()) {
                undoing.places.insert(*place);
            }
        }
        const Bytes undone =
            TagFields::patchID3(*patched,
                                {{Field::title, snapshot->values.at(Field::title)},
                                 {Field::genre, snapshot->values.at(Field::genre)}},
                                undoing);
        if (TagFields::readID3(undone) != *before) throw fuzz::Finding("the undo lost a value");
        expectFramesOf(file, undone, "", "the undo wrote a value back as other bytes");
        expectSameFrames(file, undone, "the undo put a frame back elsewhere");
        if (trailer && !std::equal(trailer->begin(), trailer->end(), undone.end() - 128)) {
            throw fuzz::Finding("the undo left another trailer");
        }
        if (!snapshot->hasTag && undone != file) {
            throw fuzz::Finding("the undo of an added tag is not the file");
        }
    }

    std::optional<Bytes> rewritten;
    const TrackMeta meta("Fuzz Title", "Artist", "", "Album", "3", "1", "2019-04-01", "Rock");
    try {
        rewritten = TagEditor::rewriteID3(file, meta);
    } catch (const ConversionError&) {
    }
    if (rewritten) expectTitle(*rewritten, meta.title);
}

const fuzz::Registration registration("ID3Tag", run);

}  // namespace
}  // namespace tarvik
