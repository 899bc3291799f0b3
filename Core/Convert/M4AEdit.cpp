#include "Core/Convert/M4AEdit.hpp"

#include <mp4file.h>
#include <mp4tag.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Core/Convert/MP4MovieStream.hpp"
#include "Core/Convert/TagFieldsError.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::m4a {
namespace {

// The movie is held in memory while TagLib changes it; real ones, sample
// tables and covers included, stay far below.
constexpr std::uint64_t movieLimit = std::uint64_t{64} << 20;
// What a rewrite may add besides the new texts: item and data headers, and
// whatever TagLib adds around them.
constexpr std::uint64_t growthAllowance = std::uint64_t{1} << 20;

std::string unsure(std::string_view fileName) {
    return "書き換えた結果を確かめられないため、タグを書き換えませんでした: " +
           std::string(fileName);
}

// TagLib keeps a freeform item as "----:" + mean + ":" + name and, on saving,
// drops any whose name or mean holds another ":". Refused rather than lost.
void refuseLosableItems(const mp4::Layout& layout, std::string_view fileName) {
    for (const mp4::Item& item : layout.items) {
        if (item.key.starts_with("----:") &&
            std::count(item.key.begin(), item.key.end(), ':') != 2) {
            throw ConversionError(
                "名前に「:」を含むタグ項目は書き換えると失われるため、"
                "書き換えません: " +
                std::string(fileName));
        }
    }
}

// The next byte at or after `offset` that is not in a hole (the offset
// itself for a source that is no file).
std::uint64_t nextData(ByteSource& source, std::uint64_t offset) {
    auto* file = dynamic_cast<FileSource*>(&source);
    if (file == nullptr) return offset;
    const off_t data = ::lseek(file->descriptor(), static_cast<off_t>(offset), SEEK_DATA);
    return data < 0 ? (errno == ENXIO ? file->size() : offset) : static_cast<std::uint64_t>(data);
}

// Whether the two ranges hold the same bytes; holes in both are passed over.
bool sameBytes(ByteSource& a, std::uint64_t aOffset, ByteSource& b, std::uint64_t bOffset,
               std::uint64_t length) {
    for (std::uint64_t done = 0; done < length;) {
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
bool sameAudio(ByteSource& before, const mp4::Layout& old, ByteSource& after,
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

// An item's name as the user may read it: the four-letter names are
// Latin-1 ("\251nam"), a freeform item's mean and name UTF-8.
std::string shown(const std::string& key) {
    std::string out;
    if (key.starts_with("----:")) {
        out = text::decodeUTF8(std::string_view(key));
    } else {
        for (unsigned char byte : key) text::appendScalar(out, byte);
    }
    return text::prefixScalars(out, 64);
}

// The names of the items not changed that did not come back byte for byte
// (TagLib writes the items sorted by name, so their order is not compared);
// failing those, of the items that came from nowhere.
std::vector<std::string> itemsNotKept(const mp4::Layout& old, const mp4::Layout& now,
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
    const auto before = kept(old), after = kept(now);
    std::vector<std::pair<std::string, Bytes>> lost, added;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(lost));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    std::vector<std::string> names;
    for (const auto& [key, raw] : lost.empty() ? added : lost) {
        if (names.empty() || names.back() != key) names.push_back(key);
    }
    return names;
}

void checkMovieSize(const mp4::Layout& layout) {
    if (layout.movie.length > movieLimit) throw UnnamedTagError("タグが大きすぎます");
}

}  // namespace

void read(ByteSource& file, std::string_view fileName, const Look& look) {
    try {
        const mp4::Layout layout = mp4::inspect(file, fileName);
        checkMovieSize(layout);
        mp4::MovieStream stream(file, layout.movie, layout.movie.length, std::string(fileName));
        TagLib::MP4::File opened(&stream, false);
        TagLib::MP4::Tag* tag = opened.isValid() ? opened.tag() : nullptr;
        if (stream.failure()) throw ConversionError(*stream.failure());
        if (tag == nullptr) throw ConversionError("M4A ではありません: " + std::string(fileName));
        look(*tag);
    } catch (const UnnamedTagError& error) {
        throwNamed(error, fileName);
    }
}

void read(const std::filesystem::path& file, const Look& look) {
    FileSource source(file);
    read(source, file.filename().string(), look);
}

mp4::Layout editable(ByteSource& source, std::string_view fileName) {
    try {
        mp4::Layout layout = mp4::inspect(source, fileName);
        // Their sample offsets lie outside the moov, where TagLib moves only
        // some of them: the audio after the first fragment would be lost.
        if (layout.fragmented) {
            throw ConversionError("分割された M4A は書き換えません: " + std::string(fileName));
        }
        refuseLosableItems(layout, fileName);
        checkMovieSize(layout);
        return layout;
    } catch (const UnnamedTagError& error) {
        throwNamed(error, fileName);
    }
}

Movie changeMovie(ByteSource& source, const mp4::Layout& layout, std::string_view fileName,
                  const std::vector<std::string>& changedItems, std::uint64_t newTagBytes,
                  const Look& change) {
    mp4::MovieStream stream(source, layout.movie,
                            layout.movie.length + newTagBytes + growthAllowance,
                            std::string(fileName));
    Movie movie{{}, changedItems, {}};
    {
        TagLib::MP4::File file(&stream, false);
        TagLib::MP4::Tag* tag = file.isValid() ? file.tag() : nullptr;
        if (stream.failure()) throw ConversionError(*stream.failure());
        if (tag == nullptr) throw ConversionError("M4A ではありません: " + std::string(fileName));
        change(*tag);
        for (const std::string& item : changedItems) {
            if (tag->contains(TagLib::String(item, TagLib::String::Latin1))) {
                movie.heldItems.push_back(item);
            }
        }
        const bool saved = file.save();
        if (stream.failure()) throw ConversionError(*stream.failure());
        if (!saved) {
            throw ConversionError("M4A のタグを書き換えられません: " + std::string(fileName));
        }
    }
    movie.bytes = stream.movie();
    return movie;
}

void assemble(ByteSource& source, const mp4::Layout& layout, const Bytes& movie, ByteSink& out) {
    const std::uint64_t end = layout.movie.offset + layout.movie.length;
    out.copy(source, 0, layout.movie.offset);
    out.append(movie);
    out.copy(source, end, source.size() - end);
}

void verify(ByteSource& before, const mp4::Layout& old, ByteSource& after, const Movie& movie,
            std::string_view fileName) {
    mp4::Layout now;
    try {
        now = mp4::inspect(after, fileName);
    } catch (const ConversionError&) {
        throw ConversionError(unsure(fileName));
    }
    const std::vector<std::string> lost = itemsNotKept(old, now, movie.changedItems);
    if (!lost.empty()) {
        std::string names;
        for (const std::string& key : lost) names += "「" + shown(key) + "」";
        throw ConversionError("タグ項目" + names +
                              "は書き換えると元どおりに残せないため、タグを書き換えませんでした: " +
                              std::string(fileName));
    }
    // What TagLib was told to write must be where readers look for it.
    for (const std::string& item : movie.changedItems) {
        const bool held = std::find(movie.heldItems.begin(), movie.heldItems.end(), item) !=
                          movie.heldItems.end();
        const bool found = std::any_of(now.items.begin(), now.items.end(),
                                       [&](const mp4::Item& it) { return it.key == item; });
        if (held != found) throw ConversionError(unsure(fileName));
    }
    if (now.fragmented || !sameAudio(before, old, after, now)) {
        throw ConversionError(unsure(fileName));
    }
}

void edit(const std::filesystem::path& source, const std::filesystem::path& destination,
          const std::vector<std::string>& changedItems, std::uint64_t newTagBytes,
          const Look& change, const std::optional<FileIdentity>& seen,
          const BeforeReplacing& beforeReplacing) {
    const std::string fileName = source.filename().string();
    const MakeMovie make = [&](ByteSource& original, const mp4::Layout& layout) {
        return changeMovie(original, layout, fileName, changedItems, newTagBytes, change);
    };
    edit(source, destination, make, seen, beforeReplacing);
}

void edit(const std::filesystem::path& source, const std::filesystem::path& destination,
          const MakeMovie& make, const std::optional<FileIdentity>& seen,
          const BeforeReplacing& beforeReplacing) {
    const std::string fileName = source.filename().string();
    FileSource original(source, seen);
    // Checked and changed before the temporary exists: a file refused for
    // its atoms or its tag leaves nothing beside the destination.
    const mp4::Layout before = editable(original, fileName);
    Movie movie;
    try {
        movie = make(original, before);
    } catch (const UnnamedTagError& error) {
        throwNamed(error, fileName);
    }
    AtomicFileSink out(destination, beforeReplacing);
    assemble(original, before, movie.bytes, out);
    FileSource written(out.temporaryPath());
    verify(original, before, written, movie, fileName);
    out.commit();
}

}  // namespace tarvik::m4a
