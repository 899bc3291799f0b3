// The M4A walk and the whole edit, in memory: the atom tree is checked,
// TagLib reads every item and changes the title and track in its copy of
// the moov, the file is put together and checked again. A result that
// passes every check must read back with the new title (or none). The same
// edit item by item, raw, must give the file back byte for byte when the
// snapshot taken before is written back.
#include <mp4tag.h>

#include <algorithm>

#include "Core/Convert/M4AEdit.hpp"
#include "Core/Convert/MP4Items.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Fuzz.hpp"

namespace tarvik {
namespace {

constexpr std::string_view name = "fuzz.m4a";

void readEveryItem(TagLib::MP4::Tag& tag) {
    for (const auto& [key, item] : tag.itemMap()) {
        (void)item.toStringList();
        (void)item.toIntPair();
        (void)item.toCoverArtList();
        (void)item.toByteVectorList();
    }
}

// What the edit does, chosen by the input's last byte: set the title and
// track, remove them (the item list may become empty), or set a title
// longer than any padding (the moov grows and what follows it moves).
std::string newTitle(std::span<const std::uint8_t> data) {
    switch (data.empty() ? 0 : data.back() % 3) {
        case 0:
            return "Fuzz";
        case 1:
            return "";
        default:
            return std::string(5000, 'f');
    }
}

// The item-by-item edit, put together and checked as the editor does.
Bytes editItems(ByteSource& source, const TagFields::Values& values,
                const TagFields::Before& before) {
    const mp4::Layout layout = m4a::editable(source, name);
    const m4a::Movie made = mp4::movieWithFields(source, layout, values, before, name);
    MemorySink out;
    m4a::assemble(source, layout, made.bytes, out);
    MemorySource written(out.bytes());
    m4a::verify(source, layout, written, made, name);
    return std::move(out.bytes());
}

// Set (or removed) and given back from a snapshot, as the tidy and its undo
// do: the file again, byte for byte, also where the edit gave it a list.
void editItemsAndBack(const Bytes& file, const std::string& title) {
    using TagFields::Field;
    MemorySource source(file);
    TagFields::Snapshot before;
    Bytes edited;
    const TagFields::Values values = {
        {Field::title, title.empty() ? std::nullopt : std::optional(title)},
        {Field::track, title.empty() ? std::nullopt : std::optional<std::string>("3")}};
    try {
        before = TagFields::snapshotM4A(source, name);
        edited = editItems(source, values, {});
    } catch (const ConversionError&) {
        return;
    }
    MemorySource editedSource(edited);
    TagFields::Values old;
    for (const auto& [field, value] : values) old[field] = before.values.at(field);
    const Bytes undone = editItems(
        editedSource, old, {0, before.places, !before.hasTag, std::nullopt, before.addedAtom});
    if (undone != file) throw fuzz::Finding("the undo of an item edit is not the file");
}

void run(std::span<const std::uint8_t> data) {
    const Bytes file(data.begin(), data.end());
    editItemsAndBack(file, newTitle(data));
    MemorySource source(file);
    try {
        m4a::read(source, name, readEveryItem);
    } catch (const ConversionError&) {
    }

    const std::string title = newTitle(data);
    const auto change = [&](TagLib::MP4::Tag& tag) {
        if (title.empty()) {
            tag.removeItem("\251nam");
            tag.removeItem("trkn");
        } else {
            tag.setItem("\251nam", TagLib::MP4::Item(TagLib::StringList(TagLib::String(title))));
            tag.setItem("trkn", TagLib::MP4::Item(3, 12));
        }
    };
    MemorySink out;
    try {
        const mp4::Layout layout = m4a::editable(source, name);
        const m4a::Movie movie =
            m4a::changeMovie(source, layout, name, {"\251nam", "trkn"}, title.size(), change);
        m4a::assemble(source, layout, movie.bytes, out);
        MemorySource written(out.bytes());
        m4a::verify(source, layout, written, movie, name);
    } catch (const ConversionError&) {
        return;
    }
    MemorySource written(out.bytes());
    std::string read;
    m4a::read(written, name, [&](TagLib::MP4::Tag& tag) {
        read = tag.item("\251nam").toStringList().toString().to8Bit(true);
    });
    if (read != title) throw fuzz::Finding("the new title does not read back: " + read);
}

const fuzz::Registration registration("MP4Atoms", run);

}  // namespace
}  // namespace tarvik
