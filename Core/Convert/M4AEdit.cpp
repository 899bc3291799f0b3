#include "Core/Convert/M4AEdit.hpp"

#include <mp4file.h>
#include <mp4tag.h>
#include <tfilestream.h>
#include <unistd.h>

#include <algorithm>

#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"

namespace tarvik::m4a {
namespace {

// TagLib keeps a freeform item as "----:" + mean + ":" + name and, on saving,
// drops any whose name or mean holds another ":". Refused rather than lost.
void refuseLosableItems(const mp4::Layout& layout, const std::string& fileName) {
    for (const mp4::Item& item : layout.items) {
        if (item.key.starts_with("----:") &&
            std::count(item.key.begin(), item.key.end(), ':') != 2) {
            throw ConversionError(
                "名前に「:」を含むタグ項目は書き換えると失われるため、"
                "書き換えません: " +
                fileName);
        }
    }
}

// Whether the two ranges hold the same bytes; holes in both are passed over.
bool sameBytes(FileSource& a, std::uint64_t aOffset, FileSource& b, std::uint64_t bOffset,
               std::uint64_t length) {
    for (std::uint64_t done = 0; done < length;) {
        const auto nextData = [&](FileSource& file, std::uint64_t offset) {
            const off_t data = ::lseek(file.descriptor(), static_cast<off_t>(offset), SEEK_DATA);
            return data < 0 ? (errno == ENXIO ? file.size() : offset)
                            : static_cast<std::uint64_t>(data);
        };
        const std::uint64_t skip = std::min(nextData(a, aOffset + done) - (aOffset + done),
                                            nextData(b, bOffset + done) - (bOffset + done));
        done += std::min(skip, length - done);
        if (done >= length) break;
        const std::size_t step =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - done, copyChunkSize));
        if (a.read(aOffset + done, step) != b.read(bOffset + done, step)) return false;
        done += step;
    }
    return true;
}

// The media data moved as a whole at most, every chunk offset with it.
bool sameAudio(FileSource& before, const mp4::Layout& old, FileSource& after,
               const mp4::Layout& now) {
    if (old.media.size() != now.media.size() ||
        old.chunkOffsets.size() != now.chunkOffsets.size()) {
        return false;
    }
    for (std::size_t i = 0; i < old.media.size(); ++i) {
        if (old.media[i].length != now.media[i].length ||
            !sameBytes(before, old.media[i].offset, after, now.media[i].offset,
                       old.media[i].length)) {
            return false;
        }
    }
    for (std::size_t i = 0; i < old.chunkOffsets.size(); ++i) {
        const std::uint64_t offset = old.chunkOffsets[i];
        const auto media =
            std::find_if(old.media.begin(), old.media.end(), [&](const mp4::Range& m) {
                return offset >= m.offset && offset - m.offset < m.length;
            });
        const mp4::Range& moved = now.media[static_cast<std::size_t>(media - old.media.begin())];
        if (now.chunkOffsets[i] != offset - media->offset + moved.offset) return false;
    }
    return true;
}

// A number pair as TagLib writes it back: the disc pair has no two zero
// bytes after the total there, as some writers give it.
Bytes comparable(const mp4::Item& item) {
    constexpr std::size_t pairEnd = 8 + 16 + 6;  // item and data headers, three numbers
    if ((item.key == "trkn" || item.key == "disk") && item.raw.size() >= pairEnd &&
        std::all_of(item.raw.begin() + pairEnd, item.raw.end(), [](auto b) { return b == 0; })) {
        return Bytes(item.raw.begin() + 16, item.raw.begin() + pairEnd);
    }
    return item.raw;
}

// Every item not changed is still there, byte for byte (TagLib writes the
// items sorted by name, so their order is not compared).
bool sameItems(const mp4::Layout& old, const mp4::Layout& now,
               const std::vector<std::string>& changedItems) {
    const auto kept = [&](const mp4::Layout& layout) {
        std::vector<std::pair<std::string, Bytes>> items;
        for (const mp4::Item& item : layout.items) {
            if (std::find(changedItems.begin(), changedItems.end(), item.key) ==
                changedItems.end()) {
                items.emplace_back(item.key, comparable(item));
            }
        }
        std::sort(items.begin(), items.end());
        return items;
    };
    return kept(old) == kept(now);
}

}  // namespace

void read(const std::filesystem::path& file, const std::function<void(TagLib::MP4::Tag&)>& look) {
    const std::string fileName = file.filename().string();
    {
        FileSource source(file);
        mp4::inspect(source, fileName);
    }
    TagLib::FileStream stream(file.c_str(), true);
    TagLib::MP4::File opened(&stream, false);
    TagLib::MP4::Tag* tag = opened.isValid() ? opened.tag() : nullptr;
    if (tag == nullptr) throw ConversionError("M4A ではありません: " + fileName);
    look(*tag);
}

void edit(const std::filesystem::path& source, const std::filesystem::path& destination,
          const std::vector<std::string>& changedItems,
          const std::function<void(TagLib::MP4::Tag&)>& change) {
    const std::string fileName = source.filename().string();
    FileSource original(source);
    const mp4::Layout before = mp4::inspect(original, fileName);
    refuseLosableItems(before, fileName);

    AtomicFileSink out(destination);
    out.copy(original, 0, original.size());
    {
        TagLib::FileStream stream(out.temporaryPath().c_str(), false);
        TagLib::MP4::File file(&stream, false);
        TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
        if (tag == nullptr) throw ConversionError("M4A ではありません: " + fileName);
        change(*tag);
        if (!file.save()) throw ConversionError("M4A のタグを書き換えられません: " + fileName);
    }

    FileSource written(out.temporaryPath());
    bool same = false;
    try {
        const mp4::Layout after = mp4::inspect(written, fileName);
        same =
            sameItems(before, after, changedItems) && sameAudio(original, before, written, after);
    } catch (const ConversionError&) {
        same = false;
    }
    if (!same) {
        throw ConversionError("書き換えた結果を確かめられないため、タグを書き換えませんでした: " +
                              fileName);
    }
    out.commit();
}

}  // namespace tarvik::m4a
