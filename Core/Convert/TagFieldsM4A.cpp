// Single fields of an M4A file's item list: read through TagLib (see
// M4AEdit), texts as string lists, track and disc as number pairs; kept and
// changed raw, item by item (see MP4Items), where the file has a list.

#include <mp4tag.h>

#include <algorithm>
#include <charconv>

#include "Core/Convert/M4AEdit.hpp"
#include "Core/Convert/MP4Items.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::TagFields {
namespace {

bool isPair(Field field) {
    return field == Field::track || field == Field::disc;
}

std::optional<int> number(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
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
    return mp4::snapshot(mp4::inspect(file, fileName));
}

void patchM4A(const std::filesystem::path& source, const Values& values,
              const std::filesystem::path& destination, const Before& before,
              const std::optional<FileIdentity>& seen, const BeforeReplacing& beforeReplacing) {
    const std::string fileName = source.filename().string();
    std::vector<std::string> items;
    std::uint64_t newTagBytes = 0;
    for (const auto& [field, value] : values) {
        items.push_back(mp4::itemName(field));
        newTagBytes += value ? value->size() : 0;
    }
    const auto change = [&](TagLib::MP4::Tag& tag) {
        const Values old = readTag(tag);
        for (const auto& [field, value] : values) {
            const std::string name = mp4::itemName(field);
            const char* item = name.c_str();
            if (!value) {
                tag.removeItem(item);
            } else if (isPair(field)) {
                const std::string both = withTotal(*value, old.at(field));
                const std::size_t slash = both.find('/');
                const auto first = number(std::string_view(both).substr(0, slash));
                const auto total = slash == std::string::npos
                                       ? std::optional(0)
                                       : number(std::string_view(both).substr(slash + 1));
                if (!first || !total) {
                    throw ConversionError("番号として書けません: " + *value + "（" + fileName +
                                          "）");
                }
                tag.setItem(item, TagLib::MP4::Item(*first, *total));
            } else {
                TagLib::StringList list;
                std::size_t start = 0;
                for (std::size_t end; (end = value->find('\0', start)) != std::string::npos;
                     start = end + 1) {
                    list.append(
                        TagLib::String(value->substr(start, end - start), TagLib::String::UTF8));
                }
                list.append(TagLib::String(value->substr(start), TagLib::String::UTF8));
                tag.setItem(item, TagLib::MP4::Item(list));
            }
        }
    };
    const m4a::MakeMovie make = [&](ByteSource& file, const mp4::Layout& layout) {
        // A file without an item list gets one from TagLib; a list there is
        // edited item by item, raw, so that every other item and the
        // changed ones' old bytes stay as they were.
        if (!layout.hasList) {
            if (std::any_of(values.begin(), values.end(), [](const auto& entry) {
                    return entry.second && entry.second->starts_with('\xFF');
                })) {
                throw ConversionError("扱えない M4A の項目です: " + fileName);
            }
            return m4a::changeMovie(file, layout, fileName, items, newTagBytes, change);
        }
        const std::vector<mp4::Item> list = mp4::withFields(layout.items, values, before, fileName);
        m4a::Movie movie{mp4::withItems(file.read(layout.movie.offset,
                                                  static_cast<std::size_t>(layout.movie.length)),
                                        layout.movie.offset, list),
                         items,
                         {}};
        for (const std::string& item : items) {
            if (std::any_of(list.begin(), list.end(),
                            [&](const mp4::Item& it) { return it.key == item; })) {
                movie.heldItems.push_back(item);
            }
        }
        return movie;
    };
    m4a::edit(source, destination, make, seen, beforeReplacing);
}

}  // namespace tarvik::TagFields
