#include "Core/Convert/TagFields.hpp"

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik::TagFields {
namespace {

std::string extensionOf(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    return text::lower(extension);
}

[[noreturn]] void notEditable(const std::filesystem::path& file) {
    throw ConversionError("この形式のタグは書き換えられません: " + file.filename().string());
}

}  // namespace

std::string rawValue(Field field) {
    static const char* const names[] = {"title", "artist", "albumArtist", "album",
                                        "track", "disc",   "date",        "genre"};
    return names[static_cast<int>(field)];
}

std::optional<Field> fieldFromRaw(std::string_view raw) {
    for (Field field : allFields) {
        if (rawValue(field) == raw) return field;
    }
    return std::nullopt;
}

const std::string& member(const TrackMeta& meta, Field field) {
    const std::string* members[] = {&meta.title, &meta.artist, &meta.albumArtist, &meta.album,
                                    &meta.track, &meta.disc,   &meta.date,        &meta.genre};
    return *members[static_cast<int>(field)];
}

std::string withTotal(const std::string& value, const std::optional<std::string>& old) {
    if (value.find('/') != std::string::npos || !old) return value;
    const std::size_t slash = old->find('/');
    return slash == std::string::npos ? value : value + old->substr(slash);
}

Values read(const std::filesystem::path& file) {
    const std::string extension = extensionOf(file);
    const std::string name = file.filename().string();
    if (extension == "mp3") return readID3(readWholeFile(file));
    if (extension == "flac") return readFLAC(readWholeFile(file), name);
    if (extension == "m4a") return readM4A(readWholeFile(file), name);
    notEditable(file);
}

void patch(const std::filesystem::path& source, const Values& values,
           const std::filesystem::path& destination, std::optional<std::uint64_t> size) {
    const std::string extension = extensionOf(source);
    const std::string name = source.filename().string();
    Bytes result;
    if (extension == "mp3") {
        result = patchID3(readWholeFile(source), values, size);
    } else if (extension == "flac") {
        result = patchFLAC(readWholeFile(source), values, name);
    } else if (extension == "m4a") {
        result = patchM4A(readWholeFile(source), values, name);
    } else {
        notEditable(source);
    }
    writeFileAtomically(destination, asText(result));
}

}  // namespace tarvik::TagFields
