// The FLAC metadata walk of both tag editors on any bytes: the field reader,
// the field editor and the whole-comment rewrite. What an editor writes must
// read back with the title it was given; the field editor must leave every
// other field as it read it, and writing a snapshot's old title and genre
// back with their places (as an undo does) must give every comment back as
// it was, where it was, in its own block; a block the edit added goes again.
#include <optional>
#include <vector>

#include "Core/Convert/FLACComments.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Fuzz.hpp"

namespace tarvik {
namespace {

using TagFields::Field;
constexpr std::string_view name = "fuzz.flac";

void expectTitle(const Bytes& written, const std::string& title) {
    MemorySource source(written);
    if (TagFields::readFLAC(source, name).at(Field::title) != title) {
        throw fuzz::Finding("the title written does not read back");
    }
}

// The comments of each comment block, in order.
std::vector<std::vector<Bytes>> commentsOf(const Bytes& file) {
    MemorySource source(file);
    std::vector<std::vector<Bytes>> comments;
    for (const FLACComments::Block& block : FLACComments::parse(source, name).blocks) {
        if (block.type != FLACComments::vorbisCommentType) continue;
        comments.push_back(FLACComments::readComments(block.body).comments);
    }
    return comments;
}

void run(std::span<const std::uint8_t> data) {
    const Bytes file(data.begin(), data.end());
    MemorySource source(file);
    std::optional<TagFields::Values> before;
    std::optional<TagFields::Snapshot> snapshot;
    try {
        before = TagFields::readFLAC(source, name);
        snapshot = TagFields::snapshotFLAC(source, name);
    } catch (const ConversionError&) {
    }

    std::optional<Bytes> patched;
    try {
        MemorySink out;
        TagFields::patchFLAC(source, {{Field::title, "Fuzz"}, {Field::genre, std::nullopt}}, {},
                             name, out);
        patched = out.bytes();
    } catch (const ConversionError&) {
    }
    if (patched) expectTitle(*patched, "Fuzz");
    if (patched && before) {
        MemorySource written(*patched);
        TagFields::Values after = TagFields::readFLAC(written, name);
        after[Field::title] = before->at(Field::title);
        after[Field::genre] = before->at(Field::genre);
        if (after != *before) throw fuzz::Finding("a field not named changed");
        if (!snapshot || snapshot->values != *before) {
            throw fuzz::Finding("a snapshot differs from the values read");
        }
        TagFields::Before undoing{std::nullopt, {}, !snapshot->hasTag, std::nullopt};
        for (Field field : {Field::title, Field::genre}) {
            if (const auto place = snapshot->places.find(field); place != snapshot->places.end()) {
                undoing.places.insert(*place);
            }
        }
        MemorySink out;
        TagFields::patchFLAC(
            written,
            {{Field::title, before->at(Field::title)}, {Field::genre, before->at(Field::genre)}},
            undoing, name, out);
        MemorySource undone(out.bytes());
        if (TagFields::readFLAC(undone, name) != *before) {
            throw fuzz::Finding("the undo lost a value");
        }
        if (commentsOf(out.bytes()) != commentsOf(file)) {
            throw fuzz::Finding("the undo put a comment back otherwise or elsewhere");
        }
        if (!snapshot->hasTag && out.bytes() != file) {
            throw fuzz::Finding("the undo left the comment block the edit added");
        }
    }

    std::optional<Bytes> rewritten;
    const TrackMeta meta("Fuzz Title", "Artist", "", "Album", "3", "1", "2019-04-01", "Rock");
    try {
        rewritten = FLACComments::rewrite(file, meta, name);
    } catch (const ConversionError&) {
    }
    if (rewritten) expectTitle(*rewritten, meta.title);
}

const fuzz::Registration registration("FLACComments", run);

}  // namespace
}  // namespace tarvik
