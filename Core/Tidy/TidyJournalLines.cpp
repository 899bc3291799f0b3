// The journal's lines as JSON. Tag texts go in as they stand where they are
// UTF-8, which JSON holds exactly; any other bytes (a tagger that put
// Shift-JIS into a frame marked UTF-8, a frame in no known encoding) as
// {"text": <the bytes read as UTF-8, each ill-formed sequence as U+FFFD>,
// "hex": <every byte as two lower-case hexadecimal digits>}, so that undo
// writes back the very bytes the file held. Readers take the "hex" and
// leave the text, which is there for people who read the journal.

#include <array>
#include <string_view>

#include "Core/Convert/ID3v1.hpp"
#include "Core/Platform/Hex.hpp"
#include "Core/Platform/Iso8601.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Sha256.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Tidy/TidyJournal.hpp"

namespace tarvik {
namespace {

using TagFields::Field;

std::string dumped(const nlohmann::ordered_json& value) {
    try {
        // Strict: a replaced character would make undo use something else.
        return value.dump();
    } catch (const nlohmann::json::exception&) {
        throw JournalError("記録ファイルに書けない文字があります");
    }
}

std::string hexOf(const Bytes& bytes) {
    return hexDigits({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

nlohmann::ordered_json recordedText(std::string_view text) {
    if (text::isValidUTF8(text)) return std::string(text);
    return {{"text", text::decodeUTF8(text)}, {"hex", hexDigits(text)}};
}

std::string textFrom(const nlohmann::json& value, const std::string& path) {
    if (!value.is_object()) return json::asString(value, path);
    const json::ObjectReader reader(value, path);
    std::optional<std::string> bytes = fromHexDigits(reader.string("hex"));
    if (!bytes) throw DecodingError(DecodingError::Kind::dataCorrupted, reader.pathOf("hex"), {});
    return std::move(*bytes);
}

// A field's kept frames: {"index": n, "bytes": every byte in hexadecimal}.
std::vector<TagFields::KeptFrame> keptFrom(const nlohmann::json& value, const std::string& path) {
    if (!value.is_array()) throw DecodingError(DecodingError::Kind::typeMismatch, path, {});
    std::vector<TagFields::KeptFrame> frames;
    for (const nlohmann::json& member : value) {
        const json::ObjectReader frame(member, path);
        const std::int64_t index = frame.integer("index");
        const std::optional<std::string> raw = fromHexDigits(frame.string("bytes"));
        const std::optional<std::int64_t> block = frame.optionalInteger("block");
        if (index < 0) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, frame.pathOf("index"), {});
        }
        if (!raw) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, frame.pathOf("bytes"), {});
        }
        if (block && *block < 0) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, frame.pathOf("block"), {});
        }
        frames.push_back(
            {static_cast<std::uint64_t>(index), Bytes(raw->begin(), raw->end()),
             block ? std::optional(static_cast<std::uint64_t>(*block)) : std::nullopt});
    }
    return frames;
}

TagFields::FramePlaces placesFrom(const nlohmann::json& value) {
    const json::ObjectReader reader(value, "placesOld");
    TagFields::FramePlaces places;
    for (const auto& [key, member] : value.items()) {
        const auto field = TagFields::fieldFromRaw(key);
        if (!field) throw DecodingError(DecodingError::Kind::dataCorrupted, reader.pathOf(key), {});
        const json::ObjectReader place(member, reader.pathOf(key));
        const std::int64_t index = place.integer("index");
        const std::int64_t flags = place.integer("flags");
        if (index < 0) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, place.pathOf("index"), {});
        }
        if (flags < 0 || flags > 0xFFFF) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, place.pathOf("flags"), {});
        }
        TagFields::FramePlace& kept = places[*field];
        kept = {static_cast<std::uint64_t>(index), static_cast<std::uint16_t>(flags)};
        if (place.hasValue("frames")) {
            kept.frames = keptFrom(member.at("frames"), place.pathOf("frames"));
        }
    }
    return places;
}

nlohmann::ordered_json recordedMeta(const TrackMeta& meta) {
    nlohmann::ordered_json value = nlohmann::ordered_json::object();
    for (Field field : TagFields::allFields) {
        value[TagFields::rawValue(field)] = recordedText(TagFields::member(meta, field));
    }
    return value;
}

TrackMeta metaFrom(const nlohmann::json& entry, const json::ObjectReader& reader,
                   std::string_view key) {
    const std::string path = reader.object(key).path();
    const nlohmann::json& value = entry.at(key);
    std::array<std::string, TagFields::allFields.size()> texts;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string name = TagFields::rawValue(TagFields::allFields[i]);
        const auto member = value.find(name);
        if (member == value.end()) {
            throw DecodingError(DecodingError::Kind::keyNotFound, path + "." + name, {});
        }
        texts[i] = textFrom(*member, path + "." + name);
    }
    return TrackMeta(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6],
                     texts[7]);
}

}  // namespace

bool TidyJournalEntry::operator==(const TidyJournalEntry& other) const {
    return text::equivalent(source, other.source) && text::equivalent(target, other.target) &&
           old == other.old && new_ == other.new_ && tagsWritten == other.tagsWritten &&
           moved == other.moved && rawOld == other.rawOld && placesOld == other.placesOld &&
           sizeBefore == other.sizeBefore && tagAdded == other.tagAdded &&
           trailerOld == other.trailerOld && addedAtom == other.addedAtom && size == other.size &&
           modified == other.modified && id == other.id && pending == other.pending &&
           folder == other.folder && stopover == other.stopover &&
           inodeBefore == other.inodeBefore && made == other.made &&
           announcesContent == other.announcesContent && newContent == other.newContent &&
           sha256 == other.sha256 && sha256Before == other.sha256Before &&
           savedSince == other.savedSince;
}

std::string TidyJournalEntry::line() const {
    nlohmann::ordered_json value = {{"source", source},           {"target", target},
                                    {"old", recordedMeta(old)},   {"new", recordedMeta(new_)},
                                    {"tagsWritten", tagsWritten}, {"moved", moved}};
    if (rawOld) {
        nlohmann::ordered_json& raw = value["rawOld"] = nlohmann::ordered_json::object();
        for (const auto& [field, text] : *rawOld) {
            raw[TagFields::rawValue(field)] = text ? recordedText(*text) : nullptr;
        }
    }
    if (!placesOld.empty()) {
        nlohmann::ordered_json& places = value["placesOld"] = nlohmann::ordered_json::object();
        for (const auto& [field, place] : placesOld) {
            nlohmann::ordered_json& recorded = places[TagFields::rawValue(field)] = {
                {"index", place.index}, {"flags", place.flags}};
            for (const TagFields::KeptFrame& frame : place.frames) {
                nlohmann::ordered_json kept = {{"index", frame.index}, {"bytes", hexOf(frame.raw)}};
                if (frame.block) kept["block"] = *frame.block;
                recorded["frames"].push_back(std::move(kept));
            }
        }
    }
    if (sizeBefore) value["sizeBefore"] = *sizeBefore;
    if (sha256Before) value["sha256Before"] = *sha256Before;
    if (tagAdded) value["tagAdded"] = true;
    if (trailerOld) value["trailerOld"] = hexOf(*trailerOld);
    if (addedAtom) value["addedAtom"] = *addedAtom;
    if (size) value["size"] = *size;
    if (modified) value["modified"] = *modified;
    if (id) value["id"] = *id;
    if (pending) value["pending"] = true;
    if (folder) value["folder"] = true;
    if (stopover) value["stopover"] = *stopover;
    if (inodeBefore) value["inodeBefore"] = *inodeBefore;
    if (!made.empty()) value["made"] = made;
    if (announcesContent) value["announcesContent"] = true;
    return dumped(value);
}

std::string TidyJournalCompletion::line() const {
    nlohmann::ordered_json value = {
        {"completes", id}, {"tagsWritten", tagsWritten}, {"moved", moved}};
    if (size) value["size"] = *size;
    if (modified) value["modified"] = *modified;
    if (recovered) value["recovered"] = true;
    if (sha256) value["sha256"] = *sha256;
    if (savedSince) value["savedSince"] = true;
    return dumped(value);
}

std::string TidyJournalNewContent::line() const {
    return dumped({{"writes", id},
                   {"size", content.size},
                   {"modified", content.modified},
                   {"sha256", content.sha256}});
}

TidyJournalEntry TidyJournalEntry::fromLine(std::string_view line) {
    const nlohmann::json value = json::parse(line);
    const json::ObjectReader reader(value);
    TidyJournalEntry entry;
    entry.source = reader.string("source");
    entry.target = reader.string("target");
    entry.old = metaFrom(value, reader, "old");
    entry.new_ = metaFrom(value, reader, "new");
    entry.tagsWritten = reader.boolean("tagsWritten");
    entry.moved = reader.boolean("moved");
    if (reader.hasValue("rawOld")) {
        reader.object("rawOld");
        TagFields::Values raw;
        for (const auto& [key, text] : value.at("rawOld").items()) {
            const auto field = TagFields::fieldFromRaw(key);
            if (!field)
                throw DecodingError(DecodingError::Kind::dataCorrupted, "rawOld." + key, {});
            raw[*field] =
                text.is_null() ? std::nullopt : std::optional(textFrom(text, "rawOld." + key));
        }
        entry.rawOld = std::move(raw);
    }
    if (reader.hasValue("placesOld")) entry.placesOld = placesFrom(value.at("placesOld"));
    for (auto [key, member] :
         {std::pair("size", &entry.size), std::pair("sizeBefore", &entry.sizeBefore),
          std::pair("inodeBefore", &entry.inodeBefore)}) {
        if (const auto bytes = reader.optionalInteger(key)) {
            if (*bytes < 0) throw DecodingError(DecodingError::Kind::dataCorrupted, key, {});
            *member = static_cast<std::uint64_t>(*bytes);
        }
    }
    entry.sha256Before = reader.optionalString("sha256Before");
    if (entry.sha256Before && !isSha256Hex(*entry.sha256Before)) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "sha256Before", {});
    }
    entry.tagAdded = reader.optionalBoolean("tagAdded").value_or(false);
    if (const auto trailer = reader.optionalString("trailerOld")) {
        // What the undo writes over the song's own trailer: of its size and
        // kind, or not at all.
        const std::optional<std::string> raw = fromHexDigits(*trailer);
        if (!raw || raw->size() != id3v1::trailerSize || !raw->starts_with("TAG")) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, "trailerOld", {});
        }
        entry.trailerOld = Bytes(raw->begin(), raw->end());
    }
    entry.addedAtom = reader.optionalString("addedAtom");
    if (entry.addedAtom && *entry.addedAtom != "udta" && *entry.addedAtom != "meta" &&
        *entry.addedAtom != "ilst") {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "addedAtom", *entry.addedAtom);
    }
    entry.modified = reader.optionalInteger("modified");
    entry.id = reader.optionalInteger("id");
    entry.pending = reader.optionalBoolean("pending").value_or(false);
    entry.folder = reader.optionalBoolean("folder").value_or(false);
    entry.announcesContent = reader.optionalBoolean("announcesContent").value_or(false);
    entry.stopover = reader.optionalString("stopover");
    if (entry.stopover && !entry.stopover->starts_with(".tarvik-rename-")) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "stopover", *entry.stopover);
    }
    if (reader.hasValue("made")) {
        const nlohmann::json& made = value.at("made");
        if (!made.is_array()) throw DecodingError(DecodingError::Kind::typeMismatch, "made", {});
        for (const nlohmann::json& folder : made) {
            entry.made.push_back(json::asString(folder, "made"));
        }
    }
    return entry;
}

std::string journalHeader(const std::string& root, std::chrono::system_clock::time_point started) {
    return dumped({{"root", root}, {"started", iso8601::format(started)}});
}

}  // namespace tarvik
