// The FLAC metadata walk of both tag editors on any bytes: the field reader,
// the field editor and the whole-comment rewrite. What an editor writes must
// read back with the title it was given; the field editor must leave every
// other field as it read it, and writing the old title back (as an undo
// does) must give every old value back.
#include <optional>

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

void run(std::span<const std::uint8_t> data) {
    const Bytes file(data.begin(), data.end());
    MemorySource source(file);
    std::optional<TagFields::Values> before;
    try {
        before = TagFields::readFLAC(source, name);
    } catch (const ConversionError&) {
    }

    std::optional<Bytes> patched;
    try {
        MemorySink out;
        TagFields::patchFLAC(source, {{Field::title, "Fuzz"}, {Field::genre, std::nullopt}}, name,
                             out);
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
        MemorySink out;
        TagFields::patchFLAC(
            written,
            {{Field::title, before->at(Field::title)}, {Field::genre, before->at(Field::genre)}},
            name, out);
        MemorySource undone(out.bytes());
        if (TagFields::readFLAC(undone, name) != *before) {
            throw fuzz::Finding("the undo lost a value");
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
