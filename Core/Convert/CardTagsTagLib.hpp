// How the card tag reader hands TagLib its copies and takes TagLib's texts
// back. Internal to CardTags; pure, any thread.
#pragma once

#include <tbytevector.h>
#include <tstring.h>
#include <tstringlist.h>

#include <string>

#include "Core/Naming/SourceTags.hpp"
#include "Core/Platform/Bytes.hpp"

namespace tarvik::cardtags {

// Everything TagLib gets: a copy of the tag's bytes, never the file.
inline TagLib::ByteVector vectorOf(const Bytes& bytes) {
    return TagLib::ByteVector(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<unsigned int>(bytes.size()));
}

inline std::string utf8(const TagLib::String& text) {
    return text.to8Bit(true);
}

// Values joined by U+0000, as one field.
inline std::string joined(const TagLib::StringList& values) {
    std::string text;
    for (auto value = values.begin(); value != values.end(); ++value) {
        if (value != values.begin()) text.push_back('\0');
        text += utf8(*value);
    }
    return text;
}

// The fields a card file is judged by, each under its form's own name (no
// track name: the form keeps the track otherwise).
struct FieldNames {
    const char* title;
    const char* artist;
    const char* albumArtist;
    const char* album;
    const char* track = nullptr;
    const char* disc = nullptr;
};

template <typename Text>
SourceTags fieldsOf(const FieldNames& names, const Text& text) {
    SourceTags fields;
    fields.title = text(names.title);
    fields.artist = text(names.artist);
    if (names.albumArtist != nullptr) fields.albumArtist = text(names.albumArtist);
    fields.album = text(names.album);
    if (names.track != nullptr) fields.track = text(names.track);
    if (names.disc != nullptr) fields.disc = text(names.disc);
    return fields;
}

}  // namespace tarvik::cardtags
