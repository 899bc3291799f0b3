#include "Core/Convert/TagFields.hpp"

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/ID3v1.hpp"
#include "Core/Convert/TagFieldsError.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Text.hpp"

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
    if (extension == "m4a") return readM4A(file);
    if (extension != "mp3" && extension != "flac") notEditable(file);
    try {
        FileSource source(file);
        if (extension == "mp3") return readID3(id3::readHead(source));
        return readFLAC(source, file.filename().string());
    } catch (const UnnamedTagError& error) {
        throwNamed(error, file.filename().string());
    }
}

Snapshot snapshot(const std::filesystem::path& file) {
    const std::string extension = extensionOf(file);
    if (extension != "mp3" && extension != "flac" && extension != "m4a") notEditable(file);
    try {
        FileSource source(file);
        if (extension == "flac") return snapshotFLAC(source, file.filename().string());
        if (extension == "m4a") return snapshotM4A(source, file.filename().string());
        const Bytes head = id3::readHead(source);
        Snapshot snapshot = snapshotID3(head);
        snapshot.trailer = id3v1::trailer(source, id3::parseTag(head).audioStart);
        return snapshot;
    } catch (const UnnamedTagError& error) {
        throwNamed(error, file.filename().string());
    }
}

void patch(const std::filesystem::path& source, const Values& values,
           const std::filesystem::path& destination, const Before& before,
           const std::optional<FileIdentity>& seen, const BeforeReplacing& beforeReplacing) {
    const std::string extension = extensionOf(source);
    if (extension == "m4a")
        return patchM4A(source, values, destination, before, seen, beforeReplacing);
    if (extension != "mp3" && extension != "flac") notEditable(source);
    FileSource file(source, seen);
    AtomicFileSink out(destination, beforeReplacing);
    try {
        if (extension == "mp3") {
            patchID3(file, values, before, source.filename().string(), out);
        } else {
            patchFLAC(file, values, before, source.filename().string(), out);
        }
    } catch (const UnnamedTagError& error) {
        throwNamed(error, source.filename().string());
    }
    out.commit();
}

}  // namespace tarvik::TagFields
