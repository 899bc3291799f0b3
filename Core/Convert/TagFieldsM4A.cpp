// Single fields of an M4A file's item list: read through TagLib (see
// M4AEdit), texts as string lists, track and disc as number pairs; kept and
// changed raw, item by item (see MP4Items), in a list that a file without
// one is given.

#include <mp4tag.h>

#include "Core/Convert/M4AEdit.hpp"
#include "Core/Convert/MP4Items.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::TagFields {
namespace {

bool isPair(Field field) {
    return field == Field::track || field == Field::disc;
}

Values readTag(TagLib::MP4::Tag& tag) {
    Values values;
    for (Field field : allFields) {
        const std::string name = mp4::itemName(field);
        const char* item = name.c_str();
        if (!tag.contains(item)) {
            values[field] = std::nullopt;
        } else if (isPair(field)) {
            const auto [value, total] = tag.item(item).toIntPair();
            values[field] =
                std::to_string(value) + (total > 0 ? "/" + std::to_string(total) : std::string());
        } else {
            std::string joined;
            const TagLib::StringList list = tag.item(item).toStringList();
            for (auto piece = list.begin(); piece != list.end(); ++piece) {
                if (piece != list.begin()) joined += '\0';
                joined += piece->to8Bit(true);
            }
            values[field] = joined;
        }
    }
    return values;
}

}  // namespace

Values readM4A(const std::filesystem::path& file) {
    FileSource source(file);
    return readM4A(source, file.filename().string());
}

Values readM4A(ByteSource& file, std::string_view fileName) {
    Values values;
    m4a::read(file, fileName, [&](TagLib::MP4::Tag& tag) { values = readTag(tag); });
    return values;
}

Snapshot snapshotM4A(ByteSource& file, std::string_view fileName) {
    const mp4::Layout layout = m4a::editable(file, fileName);
    Snapshot snapshot = mp4::snapshot(layout);
    if (!layout.hasList) {
        snapshot.addedAtom = mp4::listHolder(
            file.read(layout.movie.offset, static_cast<std::size_t>(layout.movie.length)));
    }
    return snapshot;
}

void patchM4A(const std::filesystem::path& source, const Values& values,
              const std::filesystem::path& destination, const Before& before,
              const std::optional<FileIdentity>& seen, const BeforeReplacing& beforeReplacing) {
    const std::string fileName = source.filename().string();
    const m4a::MakeMovie make = [&](ByteSource& file, const mp4::Layout& layout) {
        return mp4::movieWithFields(file, layout, values, before, fileName);
    };
    m4a::edit(source, destination, make, seen, beforeReplacing);
}

}  // namespace tarvik::TagFields
