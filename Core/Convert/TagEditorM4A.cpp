#include <mp4tag.h>

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Convert/M4AEdit.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Platform/Errors.hpp"

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
    // Only these items change; every other atom (freeform "----" items,
    // tempo, sort orders, the encoder, the cover) is written back as read.
    const std::vector<std::string> items = {"\251nam", "\251ART", "\251alb", "aART",
                                            "trkn",    "disk",    "\251day", "\251gen"};
    std::uint64_t newTagBytes = 0;
    for (const std::string* value : {&meta.title, &meta.artist, &meta.album, &meta.albumArtist,
                                     &meta.track, &meta.disc, &meta.date, &meta.genre}) {
        newTagBytes += value->size();
    }
    m4a::edit(source, destination, items, newTagBytes, [&](TagLib::MP4::Tag& tag) {
        setText(tag, "\251nam", meta.title);
        setText(tag, "\251ART", meta.artist);
        setText(tag, "\251alb", meta.album);
        setText(tag, "aART", meta.albumArtist);
        setPair(tag, "trkn", meta.track, fileName);
        setPair(tag, "disk", meta.disc, fileName);
        setText(tag, "\251day", meta.date);
        setText(tag, "\251gen", meta.genre);
    });
}

}  // namespace tarvik::TagEditor
