#include "Core/Convert/MP4Items.hpp"

#include <algorithm>
#include <charconv>
#include <functional>

#include "Core/Convert/TagFieldsError.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::mp4 {
namespace {

using TagFields::Field;

[[noreturn]] void tooLarge() {
    throw UnnamedTagError("タグが大きすぎます");
}

void putBigEndian(Bytes& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i, value >>= 8) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
    }
}

// An atom of `type` holding `body`.
Bytes atom(std::string_view type, const Bytes& body) {
    if (body.size() > 0xFFFFFFFFu - 8) tooLarge();
    Bytes out(8);
    putBigEndian(out, 0, 8 + body.size(), 4);
    std::copy(type.begin(), type.end(), out.begin() + 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A "data" atom: its type (1 UTF-8 text, 0 implicit, as number pairs have
// it), no locale, the payload.
Bytes data(std::uint8_t type, const Bytes& payload) {
    Bytes body{0, 0, 0, type, 0, 0, 0, 0};
    body.insert(body.end(), payload.begin(), payload.end());
    return atom("data", body);
}

// Each child atom of `parent`, its content starting `skip` bytes in.
void eachChild(ByteSource& source, const Atom& parent, std::uint64_t skip,
               const std::function<void(const Atom&)>& visit) {
    if (parent.end - parent.payload < skip) damaged();
    std::size_t count = 0;
    for (std::uint64_t at = parent.payload + skip; at < parent.end;) {
        const std::optional<Atom> child = atomAt(source, at, parent.end, false);
        if (!child || ++count > atomsPerLevel) damaged();
        visit(*child);
        at = child->end;
    }
}

// The atoms from `parent` down to the item list: udta, meta, ilst.
std::optional<std::vector<Atom>> chainToList(ByteSource& source, const Atom& parent,
                                             std::size_t level) {
    static constexpr std::pair<std::string_view, std::uint64_t> path[] = {
        {"udta", 0}, {"meta", 4}, {"ilst", 0}};
    if (level == std::size(path)) return std::vector<Atom>{};
    const std::uint64_t skip = level == 0 ? 0 : path[level - 1].second;
    std::optional<std::vector<Atom>> found;
    eachChild(source, parent, skip, [&](const Atom& child) {
        if (found || child.type != path[level].first) return;
        if (auto below = chainToList(source, child, level + 1)) {
            below->insert(below->begin(), child);
            found = std::move(below);
        }
    });
    return found;
}

// Moves every chunk offset at or past `from` by `delta`.
void moveChunkOffsets(Bytes& movie, std::uint64_t from, std::int64_t delta) {
    MemorySource source(movie);
    const std::optional<Atom> moov = atomAt(source, 0, movie.size(), true);
    if (!moov) damaged();
    const std::function<void(const Atom&, int)> walk = [&](const Atom& parent, int depth) {
        eachChild(source, parent, 0, [&](const Atom& child) {
            static constexpr std::string_view down[] = {"trak", "mdia", "minf", "stbl"};
            if (depth < 4 && child.type == down[depth]) walk(child, depth + 1);
            if (depth != 4 || (child.type != "stco" && child.type != "co64")) return;
            const int width = child.type == "co64" ? 8 : 4;
            const std::uint64_t length = child.end - child.payload;
            if (length < 8) damaged();
            const auto at = static_cast<std::size_t>(child.payload);
            const std::uint64_t count = bigEndian(movie, at + 4, 4);
            if (count > (length - 8) / static_cast<std::uint64_t>(width)) damaged();
            for (std::uint64_t i = 0; i < count; ++i) {
                const std::size_t entry = at + 8 + static_cast<std::size_t>(i) * width;
                const std::uint64_t offset = bigEndian(movie, entry, width);
                if (offset < from) continue;
                const std::uint64_t moved = offset + static_cast<std::uint64_t>(delta);
                if (width == 4 && moved > 0xFFFFFFFFu) tooLarge();
                putBigEndian(movie, entry, moved, width);
            }
        });
    };
    walk(*moov, 0);
}

bool isPair(Field field) {
    return field == Field::track || field == Field::disc;
}

bool isItemOf(Field field, std::string_view key) {
    const std::vector<std::string> names = itemNames(field);
    return std::find(names.begin(), names.end(), key) != names.end();
}

// The payload of an item's first "data" atom, after its type and locale.
std::optional<Bytes> firstData(const Item& item) {
    MemorySource source(item.raw);
    const std::optional<Atom> whole = atomAt(source, 0, item.raw.size(), false);
    if (!whole) return std::nullopt;
    std::optional<Bytes> payload;
    try {
        eachChild(source, *whole, 0, [&](const Atom& child) {
            if (payload || child.type != "data" || child.end - child.payload < 8) return;
            payload = source.read(child.payload + 8, child.end - child.payload - 8);
        });
    } catch (const ConversionError&) {
        return std::nullopt;
    }
    return payload;
}

// A number pair's value as readers show it: "3", or "3/12" with a total.
std::optional<std::string> pairText(const Item& item) {
    const std::optional<Bytes> payload = firstData(item);
    if (!payload || payload->size() < 6) return std::nullopt;
    const std::uint64_t number = bigEndian(*payload, 2, 2), total = bigEndian(*payload, 4, 2);
    return std::to_string(number) + (total > 0 ? "/" + std::to_string(total) : "");
}

std::optional<std::uint16_t> pairNumber(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

// The new item of a field; `replaced` is its first item as it stands.
Item made(Field field, const std::string& value, const Item* replaced, std::string_view fileName) {
    const std::string name = itemName(field);
    Bytes body;
    if (isPair(field)) {
        const std::string both =
            TagFields::withTotal(value, replaced ? pairText(*replaced) : std::nullopt);
        const std::size_t slash = both.find('/');
        const auto number = pairNumber(std::string_view(both).substr(0, slash));
        const auto total = slash == std::string::npos
                               ? std::optional<std::uint16_t>(0)
                               : pairNumber(std::string_view(both).substr(slash + 1));
        if (!number || !total) {
            throw ConversionError("番号として書けません: " + value + "（" + std::string(fileName) +
                                  "）");
        }
        // The track pair is followed by two zero bytes, the disc pair not;
        // a replaced pair keeps its own length.
        const std::optional<Bytes> old = replaced ? firstData(*replaced) : std::nullopt;
        const std::size_t length = old && (old->size() == 6 || old->size() == 8)
                                       ? old->size()
                                       : (field == Field::track ? 8 : 6);
        Bytes payload(length, 0);
        putBigEndian(payload, 2, *number, 2);
        putBigEndian(payload, 4, *total, 2);
        body = data(0, payload);
    } else {
        for (std::size_t start = 0;;) {
            const std::size_t end = value.find('\0', start);
            const std::string piece = value.substr(start, end - start);
            const Bytes part = data(1, Bytes(piece.begin(), piece.end()));
            body.insert(body.end(), part.begin(), part.end());
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    return {name, atom(name, body)};
}

// The item atoms a raw value holds, each checked to be a whole item of `field`.
std::vector<Item> itemsIn(std::string_view raw, Field field, std::string_view fileName) {
    const Bytes bytes(raw.begin(), raw.end());
    MemorySource source(bytes);
    std::vector<Item> items;
    for (std::uint64_t at = 0; at < bytes.size();) {
        const std::optional<Atom> item = atomAt(source, at, bytes.size(), false);
        if (!item || !isItemOf(field, item->type) || items.size() >= atomsPerLevel) {
            throw ConversionError("扱えない M4A の項目です: " + std::string(fileName));
        }
        items.push_back({item->type, source.read(item->start, item->end - item->start)});
        at = item->end;
    }
    return items;
}

std::string rawValue(const std::vector<TagFields::KeptFrame>& frames) {
    std::string value = "\xFF";
    for (const TagFields::KeptFrame& frame : frames)
        value.append(frame.raw.begin(), frame.raw.end());
    return value;
}

// The bytes of the moov from `from` to `to` replaced by `content`: each of
// `holders` (the moov and the atoms in it around that place, each standing
// before it) grows or shrinks with it, and so does every chunk offset that
// points past the moov, where the audio lies after it.
Bytes replaced(const Bytes& movie, std::uint64_t movieOffset, const std::vector<Atom>& holders,
               std::uint64_t from, std::uint64_t to, const Bytes& content) {
    const auto delta =
        static_cast<std::int64_t>(content.size()) - static_cast<std::int64_t>(to - from);
    Bytes out(movie.begin(), movie.begin() + static_cast<std::ptrdiff_t>(from));
    out.insert(out.end(), content.begin(), content.end());
    out.insert(out.end(), movie.begin() + static_cast<std::ptrdiff_t>(to), movie.end());
    for (const Atom& holder : holders) {
        const auto at = static_cast<std::size_t>(holder.start);
        const std::uint64_t size = holder.end - holder.start + static_cast<std::uint64_t>(delta);
        if (holder.payload - holder.start == 16) {
            putBigEndian(out, at + 8, size, 8);
        } else if (bigEndian(out, at, 4) != 0) {  // 0: the moov runs to the end of the file
            if (size > 0xFFFFFFFFu) tooLarge();
            putBigEndian(out, at, size, 4);
        }
    }
    if (delta != 0) moveChunkOffsets(out, movieOffset + movie.size(), delta);
    return out;
}

Atom movieAtom(ByteSource& source) {
    const std::optional<Atom> moov = atomAt(source, 0, source.size(), true);
    if (!moov || moov->type != "moov") damaged();
    return *moov;
}

// The atoms that hold the item list, from the moov down.
constexpr std::string_view listChain[] = {"moov", "udta", "meta", "ilst"};

// What this program adds to hold a list (its holder `added` and what that
// holds): an empty list; a meta of iTunes' kind (version and flags, the
// handler "mdir", an empty list), as other taggers make it; a udta holding
// that meta.
Bytes holderMade(std::string_view added) {
    const Bytes list = atom("ilst", {});
    if (added == "ilst") return list;
    Bytes body(4, 0);
    const Bytes handler = atom("hdlr", {0,   0,   0,   0, 0, 0, 0, 0, 'm', 'd', 'i', 'r', 'a',
                                        'p', 'p', 'l', 0, 0, 0, 0, 0, 0,   0,   0,   0});
    body.insert(body.end(), handler.begin(), handler.end());
    body.insert(body.end(), list.begin(), list.end());
    const Bytes meta = atom("meta", body);
    return added == "meta" ? meta : atom("udta", meta);
}

// Where a moov without an item list gets one: the atoms that are there of
// the chain to it (the moov, its first udta, that one's first meta), and
// the first that is not, which is added.
struct ListPlace {
    std::vector<Atom> holders;
    std::string added;
};
ListPlace placeForList(ByteSource& source, const Atom& moov) {
    ListPlace place{{moov}, {}};
    for (std::size_t level = 1; level + 1 < std::size(listChain); ++level) {
        std::optional<Atom> found;
        eachChild(source, place.holders.back(), 0, [&](const Atom& child) {
            if (!found && child.type == listChain[level]) found = child;
        });
        if (!found) {
            place.added = listChain[level];
            return place;
        }
        place.holders.push_back(*found);
    }
    place.added = listChain[3];
    return place;
}

}  // namespace

std::string itemName(Field field) {
    // Item names are Latin-1: "\251" is the copyright sign of "©nam".
    static const char* const names[] = {"\251nam", "\251ART", "aART",    "\251alb",
                                        "trkn",    "disk",    "\251day", "\251gen"};
    return names[static_cast<int>(field)];
}

std::vector<std::string> itemNames(Field field) {
    // Older encoders wrote the genre as a number of the ID3v1 list, which
    // readers take for the genre as they do the text.
    if (field == Field::genre) return {itemName(field), "gnre"};
    return {itemName(field)};
}

TagFields::Snapshot snapshot(const Layout& layout) {
    TagFields::Snapshot snapshot;
    snapshot.hasTag = layout.hasList;
    for (Field field : TagFields::allFields) {
        snapshot.values[field] = std::nullopt;
        for (std::size_t index = 0; index < layout.items.size(); ++index) {
            if (!isItemOf(field, layout.items[index].key)) continue;
            TagFields::FramePlace& place =
                snapshot.places.try_emplace(field, TagFields::FramePlace{index, 0}).first->second;
            place.frames.push_back({index, layout.items[index].raw});
        }
        if (const auto place = snapshot.places.find(field); place != snapshot.places.end()) {
            snapshot.values[field] = rawValue(place->second.frames);
        }
    }
    return snapshot;
}

std::vector<Item> withFields(const std::vector<Item>& items, const TagFields::Values& values,
                             const TagFields::Before& before, std::string_view fileName) {
    std::vector<Item> list = items;
    // Items going back to their places once the others are in: each index
    // counts the items before it as they were, so the front one goes first.
    std::vector<std::pair<std::uint64_t, Item>> restored;
    for (const auto& [field, value] : values) {
        // A field held in items of two names is one field: written once.
        const auto isField = [&](const Item& item) { return isItemOf(field, item.key); };
        const auto place = before.places.find(field);
        if (value && place != before.places.end() && !place->second.frames.empty() &&
            *value == rawValue(place->second.frames)) {
            for (const TagFields::KeptFrame& kept : place->second.frames) {
                const std::vector<Item> whole =
                    itemsIn(std::string(kept.raw.begin(), kept.raw.end()), field, fileName);
                if (whole.size() != 1) {
                    throw ConversionError("扱えない M4A の項目です: " + std::string(fileName));
                }
                restored.emplace_back(kept.index, whole.front());
            }
            std::erase_if(list, isField);
            continue;
        }
        const auto first = std::find_if(list.begin(), list.end(), isField);
        std::vector<Item> replacement;
        if (value && value->starts_with('\xFF')) {
            replacement = itemsIn(std::string_view(*value).substr(1), field, fileName);
        } else if (value) {
            replacement.push_back(
                made(field, *value, first == list.end() ? nullptr : &*first, fileName));
        }
        const auto at = first - list.begin();
        std::erase_if(list, isField);
        list.insert(list.begin() + std::min<std::ptrdiff_t>(at, std::ssize(list)),
                    replacement.begin(), replacement.end());
    }
    std::stable_sort(restored.begin(), restored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [index, item] : restored) {
        const auto at = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(index, list.size()));
        list.insert(list.begin() + at, std::move(item));
    }
    return list;
}

Bytes withItems(const Bytes& movie, std::uint64_t movieOffset, const std::vector<Item>& items) {
    MemorySource source(movie);
    const Atom moov = movieAtom(source);
    std::optional<std::vector<Atom>> chain = chainToList(source, moov, 0);
    if (!chain) damaged();
    chain->insert(chain->begin(), moov);
    const Atom list = chain->back();
    Bytes content;
    for (const Item& item : items) content.insert(content.end(), item.raw.begin(), item.raw.end());
    return replaced(movie, movieOffset, *chain, list.payload, list.end, content);
}

std::string listHolder(const Bytes& movie) {
    MemorySource source(movie);
    return placeForList(source, movieAtom(source)).added;
}

Bytes withList(const Bytes& movie, std::uint64_t movieOffset, std::string_view fileName) {
    MemorySource source(movie);
    const ListPlace place = placeForList(source, movieAtom(source));
    if (place.added == "ilst") {
        // Readers take a list for the tag in a meta of iTunes' kind only.
        const Atom& meta = place.holders.back();
        std::optional<Atom> handler;
        eachChild(source, meta, 4, [&](const Atom& child) {
            if (!handler && child.type == "hdlr") handler = child;
        });
        if (handler && (handler->end - handler->payload < 12 ||
                        source.read(handler->payload + 8, 4) != Bytes{'m', 'd', 'i', 'r'})) {
            throw ConversionError("iTunes 形式でない meta アトムを持つ M4A には項目を足せません: " +
                                  std::string(fileName));
        }
    }
    const std::uint64_t at = place.holders.back().end;
    return replaced(movie, movieOffset, place.holders, at, at, holderMade(place.added));
}

Bytes withoutList(const Bytes& movie, std::uint64_t movieOffset, std::string_view added) {
    MemorySource source(movie);
    const Atom moov = movieAtom(source);
    std::optional<std::vector<Atom>> chain = chainToList(source, moov, 0);
    if (!chain) return movie;
    chain->insert(chain->begin(), moov);
    const auto level = std::find(std::begin(listChain), std::end(listChain), added);
    if (level == std::end(listChain)) return movie;
    const std::vector<Atom> holders(chain->begin(),
                                    chain->begin() + (level - std::begin(listChain)));
    const Atom& made = (*chain)[holders.size()];
    // Only what this program made, holding nothing of anyone's: where the
    // list still holds items, they are not ours to take away.
    const Bytes bytes = source.read(made.start, made.end - made.start);
    if (bytes != holderMade(added)) return movie;
    return replaced(movie, movieOffset, holders, made.start, made.end, {});
}

m4a::Movie movieWithFields(ByteSource& file, const Layout& layout, const TagFields::Values& values,
                           const TagFields::Before& before, std::string_view fileName) {
    const std::vector<Item> list = withFields(layout.items, values, before, fileName);
    Bytes movie = file.read(layout.movie.offset, static_cast<std::size_t>(layout.movie.length));
    if (!layout.hasList && !list.empty()) movie = withList(movie, layout.movie.offset, fileName);
    if (layout.hasList || !list.empty()) movie = withItems(movie, layout.movie.offset, list);
    if (layout.hasList && list.empty() && before.addedAtom) {
        movie = withoutList(movie, layout.movie.offset, *before.addedAtom);
    }
    m4a::Movie made{std::move(movie), {}, {}};
    for (const auto& [field, value] : values) {
        for (const std::string& name : itemNames(field)) {
            made.changedItems.push_back(name);
            if (std::any_of(list.begin(), list.end(),
                            [&](const Item& item) { return item.key == name; })) {
                made.heldItems.push_back(name);
            }
        }
    }
    return made;
}

}  // namespace tarvik::mp4
