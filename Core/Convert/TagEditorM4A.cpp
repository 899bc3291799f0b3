#include <mp4file.h>
#include <mp4tag.h>
#include <tbytevectorstream.h>

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Convert/TagEditor.hpp"
#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik::TagEditor {
namespace {

TagLib::String unicode(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

// Item names are Latin-1: "\251" is the copyright sign of "©nam".
void setText(TagLib::MP4::Tag& tag, const char* item, const std::string& value) {
    if (value.empty()) {
        tag.removeItem(item);
    } else {
        tag.setItem(item, TagLib::MP4::Item(TagLib::StringList(unicode(value))));
    }
}

std::optional<int> numberOf(std::string_view text) {
    int number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || number < 0) return std::nullopt;
    return number;
}

// Track and disc are pairs of number and total; the record holds only the
// number, so the file's total stays.
void setPair(TagLib::MP4::Tag& tag, const char* item, const std::string& value,
             std::string_view fileName) {
    if (value.empty()) {
        tag.removeItem(item);
        return;
    }
    std::optional<int> number = numberOf(value);
    if (!number) {
        throw ConversionError("番号として書けません: " + value + "（" + std::string(fileName) +
                              "）");
    }
    const int total = tag.contains(item) ? tag.item(item).toIntPair().second : 0;
    tag.setItem(item, TagLib::MP4::Item(*number, total));
}

}  // namespace

void writeM4A(const std::filesystem::path& source, const TrackMeta& meta,
              const std::filesystem::path& destination) {
    const std::string fileName = source.filename().string();
    const Bytes original = readWholeFile(source);
    // Edited in memory: the source is never opened for writing, and the
    // destination receives the whole result or keeps what it had.
    TagLib::ByteVectorStream stream(
        TagLib::ByteVector(reinterpret_cast<const char*>(original.data()),
                           static_cast<unsigned int>(original.size())));
    TagLib::MP4::File file(&stream, false);
    TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
    if (tag == nullptr) throw ConversionError("M4A ではありません: " + fileName);

    // Only these items change; every other atom (freeform "----" items,
    // tempo, sort orders, the encoder, the cover) is written back as read.
    setText(*tag, "\251nam", meta.title);
    setText(*tag, "\251ART", meta.artist);
    setText(*tag, "\251alb", meta.album);
    setText(*tag, "aART", meta.albumArtist);
    setPair(*tag, "trkn", meta.track, fileName);
    setPair(*tag, "disk", meta.disc, fileName);
    setText(*tag, "\251day", meta.date);
    setText(*tag, "\251gen", meta.genre);
    if (!file.save()) throw ConversionError("M4A のタグを書き換えられません: " + fileName);

    const TagLib::ByteVector* edited = stream.data();
    writeFileAtomically(destination, std::string_view(edited->data(), edited->size()));
}

}  // namespace tarvik::TagEditor
