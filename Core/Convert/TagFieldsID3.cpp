// Single fields of the ID3v2 tag: text frames decoded from any of the four
// encodings and written back in their place in the replaced frame's form
// (see ID3Text) and with its flags, so that writing the old text back gives
// the old frame byte for byte; the tag's own flags, extended header and
// footer stay as they were. A tag that holds no text is none to readers,
// who read the ID3v1 trailer instead: a patch that gives it text carries
// the trailer's fields into it (see ID3v1), and the undo takes them away.
//
// A value read is one of three forms, told apart by its first byte and by
// whether it is UTF-8:
// - valid UTF-8: the frame's text, wherever the text written back in the
//   frame's own form gives the frame's body again;
// - 0xFF, then the frame's whole body, encoding byte first: every other
//   frame (an unknown encoding, UTF-16 that is no text or whose strings
//   differ in their byte order marks, bytes in a UTF-8 frame that are no
//   UTF-8 and begin with 0xFF, an empty body);
// - bytes that are no UTF-8 and begin with another byte: the text of a
//   UTF-8 frame as it stands, written back into a UTF-8 frame.
// 0xFF is never part of UTF-8, so the first two forms never meet, and the
// third is what older versions read such UTF-8 frames as. A snapshot takes
// every frame in the second form: its text may go back in another form than
// its own once a new value changed the frame's encoding.

#include <algorithm>

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/ID3Text.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/ID3v1.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Convert/TagFieldsError.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::TagFields {
namespace {

constexpr std::size_t padding = 1024;

std::string frameID(Field field, int major) {
    switch (field) {
        case Field::title:
            return "TIT2";
        case Field::artist:
            return "TPE1";
        case Field::albumArtist:
            return "TPE2";
        case Field::album:
            return "TALB";
        case Field::track:
            return "TRCK";
        case Field::disc:
            return "TPOS";
        case Field::date:
            return major == 4 ? "TDRC" : "TYER";
        case Field::genre:
            return "TCON";
    }
    return {};
}

// A frame's body that its text does not give back: behind a byte that
// UTF-8 never has.
std::string asBody(const Bytes& body) {
    return "\xFF" + std::string(body.begin(), body.end());
}

// Values read as raw bytes go back as the bytes they were read from: a
// frame's body (behind the marker) as it was; text that is not UTF-8,
// which only a UTF-8 frame gives as it is, in a UTF-8 frame.
bool isRaw(std::string_view value) {
    return value.starts_with('\xFF') || !text::isValidUTF8(value);
}

// Frame format flags (compression, encryption, unsynchronisation, a data
// length): the body is then no plain text.
bool hasFormatFlags(const id3::Frame& frame, int major) {
    if (frame.raw.size() < 10) return true;
    return (frame.raw[9] & (major == 4 ? 0x4F : 0xE0)) != 0;
}

[[noreturn]] void unreadable(const id3::Frame& frame) {
    throw ConversionError("扱えない ID3 フレームです: " + frame.id);
}

// The field's first frame, the one read and replaced; nothing when the tag
// has none. Refused where its body is no plain text.
const id3::Frame* fieldFrame(const id3::ParsedTag& tag, Field field) {
    const std::string id = frameID(field, tag.major);
    const auto frame = std::find_if(tag.frames.begin(), tag.frames.end(),
                                    [&](const id3::Frame& f) { return f.id == id; });
    if (frame == tag.frames.end()) return nullptr;
    if (hasFormatFlags(*frame, tag.major)) unreadable(*frame);
    return &*frame;
}

std::uint16_t flagsOf(const id3::Frame& frame) {
    return static_cast<std::uint16_t>(frame.raw[8] << 8 | frame.raw[9]);
}

// The field's frames as a snapshot kept them, where `value` is the one
// they hold; nothing else. Each is checked to be a whole frame of the field,
// so that a damaged journal never makes a tag no reader can walk.
std::vector<id3::Frame> keptFrames(const Before& before, Field field,
                                   const std::optional<std::string>& value, const std::string& id,
                                   int major) {
    const auto place = before.places.find(field);
    if (!value || place == before.places.end() || place->second.frames.empty()) return {};
    std::vector<id3::Frame> frames;
    for (const KeptFrame& kept : place->second.frames) {
        const Bytes& raw = kept.raw;
        if (raw.size() < 10 || std::string(raw.begin(), raw.begin() + 4) != id ||
            (major == 4 ? id3::readSyncsafe(&raw[4]) : id3::readBigEndian32(&raw[4])) !=
                raw.size() - 10) {
            throw ConversionError("扱えない ID3 フレームです: " + id);
        }
        frames.push_back({id, raw});
    }
    if (asBody(id3::frameBody(frames.front())) != *value) return {};
    return frames;
}

// The value of a frame's body: its text where writing the text back gives
// the body again (the marker would take text that starts with 0xFF for a
// body); else the body itself.
std::string valueOf(const Bytes& body) {
    const std::optional<std::string> text = id3::decodeText(body);
    const std::optional<id3::TextForm> form = id3::formOf(body);
    if (text && form && !text->starts_with('\xFF') && id3::bodyInForm(*text, *form) == body) {
        return *text;
    }
    return asBody(body);
}

// The frame for `value` in the replaced frame's form, or in the writer's
// own form where there is none or the text doesn't fit its encoding.
Bytes newFrame(const std::string& id, const std::string& value, const id3::Frame* replaced,
               const ID3Writer& writer, int major) {
    const auto version = major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3;
    std::optional<Bytes> body;
    if (value.starts_with('\xFF')) body = Bytes(value.begin() + 1, value.end());
    std::optional<id3::TextForm> form;
    if (!body && replaced != nullptr) form = id3::formOf(id3::frameBody(*replaced));
    // A form that would not read back as the value gives way to the writer's:
    // an old body's tail that is more than terminators runs on into the new
    // text, and a text that begins with U+FEFF reads, in UTF-16 without a
    // byte order mark, as one.
    if (!body && form) body = id3::bodyInForm(value, *form);
    if (body && form && valueOf(*body) != value) body.reset();
    if (!body) {
        // The writer's own form, but each string of a list with its own
        // byte order mark, which reads back as text; bytes that are not
        // UTF-8 as they are.
        form = text::isValidUTF8(value)
                   ? id3::formOf(id3::frameBody({id, writer.textFrame(id, value)}))
                   : id3::TextForm{};
        body = id3::bodyInForm(value, *form);
    }
    Bytes made = id3::frame(id, *body, version);
    if (replaced != nullptr) {
        // The flags stay, whatever the form: writing the old value back over
        // a frame that took the writer's form gives the old frame again.
        made[8] = replaced->raw[8];
        made[9] = replaced->raw[9];
    }
    return made;
}

// Whether any frame gives readers text to show (a text frame, a comment,
// lyrics): where none does, they read the ID3v1 trailer's fields instead.
bool holdsText(const std::vector<id3::Frame>& frames) {
    return std::any_of(frames.begin(), frames.end(), [](const id3::Frame& frame) {
        return frame.id.starts_with('T') || frame.id == "COMM" || frame.id == "USLT";
    });
}

// The ID3v1 trailer a patch leaves: the one `before` knew, when an undo
// gives it; where the file's ID3v2 tag holds no text (the trailer is what
// readers read), the trailer with what it can hold of the new values; else
// as it is.
std::optional<Bytes> newTrailer(const std::optional<Bytes>& trailer, bool tagHoldsText,
                                const Values& values, const Before& before) {
    if (!trailer) return trailer;
    if (before.trailer) return before.trailer;
    if (tagHoldsText) return trailer;
    Bytes updated = *trailer;
    for (const auto& [field, value] : values) {
        if (!value || !isRaw(*value)) updated = id3v1::with(std::move(updated), field, value);
    }
    return updated;
}

// Takes away the frames made from the trailer as it was before a patch
// carried it into a tag that held no text: what an undo takes away with
// what the patch added. Older versions read every trailer as Latin-1.
void dropCarried(std::vector<id3::Frame>& frames, const Bytes& trailer, int major) {
    std::vector<id3::Frame> made = id3v1::frames(trailer, major);
    for (id3::Frame& frame : id3v1::frames(trailer, major, id3v1::Reading::latin1)) {
        made.push_back(std::move(frame));
    }
    std::erase_if(frames, [&](const id3::Frame& frame) {
        return std::any_of(made.begin(), made.end(),
                           [&](const id3::Frame& m) { return m.raw == frame.raw; });
    });
}

// What the tag keeps besides its frames and padding, which a patch gives
// back as it was: its flags, revision and extended header, and its footer
// (the header again, as "3DI"); its size, which must be a syncsafe number
// within the file ("ID3 タグが壊れています"). Refused where the extended header holds a
// CRC of the frames, which a patch would make false, or is too short to be
// one, and where the footer is not the header's: written anew, it would
// not be the bytes that were there.
void checkKeepable(const id3::ParsedTag& tag, const Bytes& head, std::uint64_t fileSize,
                   std::string_view fileName) {
    const Bytes& extended = tag.extendedHeader;
    const bool badExtended = (tag.flags & 0x40) != 0 &&
                             (tag.major == 3 ? extended.size() < 10 || (extended[4] & 0x80) != 0
                                             : extended.size() < 6 || (extended[5] & 0x20) != 0);
    // A tag that claims more than the file holds, or whose size is no
    // syncsafe number, has no size to give back.
    const std::optional<std::uint64_t> length = id3::tagLength(head);
    if (length && (*length > fileSize || std::any_of(head.begin() + 6, head.begin() + 10,
                                                     [](std::uint8_t b) { return b >= 0x80; }))) {
        throw UnnamedTagError("ID3 タグが壊れています");
    }
    const bool badFooter =
        tag.hasFooter() &&
        (tag.footer.size() != 10 ||
         !std::equal(tag.footer.begin(), tag.footer.begin() + 3, "3DI") ||
         !std::equal(tag.footer.begin() + 3, tag.footer.end(), head.begin() + 3));
    if (badExtended || badFooter) {
        throw ConversionError(
            "この形の ID3 タグは書き換えると元どおりに残せないため、書き換えません: " +
            std::string(fileName));
    }
}

}  // namespace

Values readID3(const Bytes& head) {
    const id3::ParsedTag tag = id3::parseTag(head);
    Values values;
    for (Field field : allFields) {
        const id3::Frame* frame = fieldFrame(tag, field);
        values[field] = frame ? std::optional(valueOf(id3::frameBody(*frame))) : std::nullopt;
    }
    return values;
}

Snapshot snapshotID3(const Bytes& head) {
    const id3::ParsedTag tag = id3::parseTag(head);
    Snapshot snapshot;
    // A tag that holds no text is none to readers: the trailer's fields,
    // which a patch carries into it, are theirs.
    snapshot.hasTag = tag.present && holdsText(tag.frames);
    for (Field field : allFields) {
        const id3::Frame* frame = fieldFrame(tag, field);
        snapshot.values[field] =
            frame ? std::optional(asBody(id3::frameBody(*frame))) : std::nullopt;
        if (!frame) continue;
        FramePlace& place = snapshot.places[field];
        place = {static_cast<std::uint64_t>(frame - tag.frames.data()), flagsOf(*frame)};
        for (std::size_t index = 0; index < tag.frames.size(); ++index) {
            if (tag.frames[index].id == frame->id) {
                place.frames.push_back({index, tag.frames[index].raw});
            }
        }
    }
    return snapshot;
}

void patchID3(ByteSource& file, const Values& values, const Before& before,
              std::string_view fileName, ByteSink& out) {
    const Bytes head = id3::readHead(file);
    id3::ParsedTag tag = id3::parseTag(head);
    checkKeepable(tag, head, file.size(), fileName);
    const bool anyValue = std::any_of(values.begin(), values.end(),
                                      [](const auto& entry) { return entry.second.has_value(); });
    const bool textless = !holdsText(tag.frames);
    const std::optional<Bytes> oldTrailer = id3v1::trailer(file, tag.audioStart);
    const std::optional<Bytes> trailer = newTrailer(oldTrailer, !textless, values, before);
    const std::uint64_t audio = file.size() - tag.audioStart;  // the trailer with it
    const auto copyAudio = [&] {
        if (trailer == oldTrailer) return out.copy(file, tag.audioStart, audio);
        out.copy(file, tag.audioStart, audio - id3v1::trailerSize);
        out.append(*trailer);
    };
    if (!tag.present && !anyValue) return copyAudio();

    const ID3Writer::Version version =
        tag.major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3;
    const ID3Writer writer{version, ID3Writer::TextEncoding::utf8, false, true};
    const Values old = readID3(head);
    if (textless && oldTrailer && anyValue) {
        // A tag with text hides the trailer from every reader: it says all
        // else the trailer says.
        for (id3::Frame& frame : id3v1::frames(*oldTrailer, tag.major)) {
            if (std::none_of(values.begin(), values.end(), [&](const auto& entry) {
                    return frameID(entry.first, tag.major) == frame.id;
                })) {
                tag.frames.push_back(std::move(frame));
            }
        }
    }
    // Frames put back where they stood, once the others are in: each index
    // counts the frames before it as they were, so the front one goes first.
    std::vector<std::pair<std::uint64_t, id3::Frame>> restored;
    for (const auto& [field, value] : values) {
        const std::string id = frameID(field, tag.major);
        if (const std::vector<id3::Frame> kept = keptFrames(before, field, value, id, tag.major);
            !kept.empty()) {
            std::erase_if(tag.frames, [&](const id3::Frame& f) { return f.id == id; });
            for (std::size_t i = 0; i < kept.size(); ++i) {
                restored.emplace_back(before.places.at(field).frames[i].index, kept[i]);
            }
            continue;
        }
        const auto first = std::find_if(tag.frames.begin(), tag.frames.end(),
                                        [&](const id3::Frame& f) { return f.id == id; });
        std::optional<Bytes> replacement;
        if (value) {
            const bool numbered = field == Field::track || field == Field::disc;
            replacement =
                newFrame(id, numbered && !isRaw(*value) ? withTotal(*value, old.at(field)) : *value,
                         first == tag.frames.end() ? nullptr : &*first, writer, tag.major);
        }
        bool placed = false;
        for (auto frame = tag.frames.begin(); frame != tag.frames.end();) {
            if (frame->id != id) {
                ++frame;
            } else if (replacement && !placed) {
                frame->raw = *replacement;  // in the old frame's place
                placed = true;
                ++frame;
            } else {
                frame = tag.frames.erase(frame);
            }
        }
        const auto place = before.places.find(field);
        if (replacement && !placed && place != before.places.end()) {
            id3::Frame frame{id, *replacement};
            frame.raw[8] = static_cast<std::uint8_t>(place->second.flags >> 8);
            frame.raw[9] = static_cast<std::uint8_t>(place->second.flags);
            if (hasFormatFlags(frame, tag.major)) unreadable(frame);
            restored.emplace_back(place->second.index, std::move(frame));
        } else if (replacement && !placed) {
            tag.frames.push_back({id, *replacement});
        }
    }
    std::sort(restored.begin(), restored.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [index, frame] : restored) {
        const auto at =
            static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(index, tag.frames.size()));
        tag.frames.insert(tag.frames.begin() + at, std::move(frame));
    }

    if (before.tagAdded && before.trailer) dropCarried(tag.frames, *before.trailer, tag.major);
    // The size counts the extended header, the frames and the padding.
    Bytes frames = tag.extendedHeader;
    for (const id3::Frame& frame : tag.frames) {
        frames.insert(frames.end(), frame.raw.begin(), frame.raw.end());
    }
    const std::uint64_t footer = tag.hasFooter() ? 10 : 0;
    // The old tag's room is kept where the frames fit, so the audio stays
    // where it was; otherwise fresh padding. A tag with a footer has none.
    const std::uint64_t room =
        tag.present ? tag.audioStart - std::min<std::uint64_t>(tag.audioStart, 10 + footer) : 0;
    std::uint64_t size = frames.size() <= room && tag.present ? room : frames.size() + padding;
    if (footer != 0) size = frames.size();
    const std::optional<std::uint64_t>& wanted = before.size;
    if (wanted && frames.empty() && *wanted == audio) return copyAudio();
    if (wanted && *wanted >= 10 + footer + audio + frames.size()) {
        size = *wanted - 10 - footer - audio;
    }
    if (size >= ID3Writer::tagSizeLimit) id3::refuseTooLarge(fileName);

    const auto sizeBytes = id3::syncsafe(static_cast<std::uint32_t>(size));
    Bytes header = {static_cast<std::uint8_t>(tag.major), tag.revision, tag.flags};
    header.insert(header.end(), sizeBytes.begin(), sizeBytes.end());
    Bytes tagBytes = {'I', 'D', '3'};
    tagBytes.insert(tagBytes.end(), header.begin(), header.end());
    tagBytes.insert(tagBytes.end(), frames.begin(), frames.end());
    tagBytes.resize(tagBytes.size() + static_cast<std::size_t>(size - frames.size()), 0x00);
    if (footer != 0) {
        // The header again, as "3DI".
        tagBytes.insert(tagBytes.end(), {'3', 'D', 'I'});
        tagBytes.insert(tagBytes.end(), header.begin(), header.end());
    }
    out.append(tagBytes);
    copyAudio();
}

Bytes patchID3(const Bytes& file, const Values& values, const Before& before,
               std::string_view fileName) {
    MemorySource source(file);
    MemorySink out;
    patchID3(source, values, before, fileName, out);
    return std::move(out.bytes());
}

}  // namespace tarvik::TagFields
