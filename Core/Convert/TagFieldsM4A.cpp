// Single fields of an M4A file's item list, through TagLib (see M4AEdit):
// texts as string lists, track and disc as number pairs.

#include <mp4tag.h>

#include <charconv>

#include "Core/Convert/M4AEdit.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::TagFields {
namespace {

const char* itemOf(Field field) {
    // Item names are Latin-1: "\251" is the copyright sign of "©nam".
    static const char* const items[] = {"\251nam", "\251ART", "aART",    "\251alb",
                                        "trkn",    "disk",    "\251day", "\251gen"};
    return items[static_cast<int>(field)];
}

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
        const char* item = itemOf(field);
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

void patchM4A(const std::filesystem::path& source, const Values& values,
              const std::filesystem::path& destination, const std::optional<FileIdentity>& seen,
              const BeforeReplacing& beforeReplacing) {
    const std::string fileName = source.filename().string();
    std::vector<std::string> items;
    std::uint64_t newTagBytes = 0;
    for (const auto& [field, value] : values) {
        items.emplace_back(itemOf(field));
        newTagBytes += value ? value->size() : 0;
    }
    const auto change = [&](TagLib::MP4::Tag& tag) {
        const Values old = readTag(tag);
        for (const auto& [field, value] : values) {
            const char* item = itemOf(field);
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
    m4a::edit(source, destination, items, newTagBytes, change, seen, beforeReplacing);
}

}  // namespace tarvik::TagFields
