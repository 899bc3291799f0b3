// Single fields of an M4A file's item list, through TagLib in memory: texts
// as string lists, track and disc as number pairs.

#include <mp4file.h>
#include <mp4tag.h>
#include <tbytevectorstream.h>

#include <charconv>

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

// The file in a TagLib stream; the stream must outlive the file.
struct Opened {
    TagLib::ByteVectorStream stream;
    TagLib::MP4::File file;
    TagLib::MP4::Tag* tag;

    Opened(const Bytes& bytes, std::string_view fileName)
        : stream(TagLib::ByteVector(reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<unsigned int>(bytes.size()))),
          file(&stream, false),
          tag(file.isValid() ? file.tag() : nullptr) {
        if (tag == nullptr) throw ConversionError("M4A ではありません: " + std::string(fileName));
    }
};

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

Values readM4A(const Bytes& file, std::string_view fileName) {
    Opened opened(file, fileName);
    return readTag(*opened.tag);
}

Bytes patchM4A(const Bytes& file, const Values& values, std::string_view fileName) {
    Opened opened(file, fileName);
    TagLib::MP4::Tag& tag = *opened.tag;
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
                throw ConversionError("番号として書けません: " + *value + "（" +
                                      std::string(fileName) + "）");
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
    if (!opened.file.save()) {
        throw ConversionError("M4A のタグを書き換えられません: " + std::string(fileName));
    }
    const TagLib::ByteVector* edited = opened.stream.data();
    return Bytes(edited->data(), edited->data() + edited->size());
}

}  // namespace tarvik::TagFields
