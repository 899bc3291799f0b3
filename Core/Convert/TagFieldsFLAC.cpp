// Single fields of a FLAC file's Vorbis comments: every comment of a field
// across all comment blocks is one value list; a new list takes the place of
// the first comment of the field and the others go. A snapshot keeps every
// comment of a field, with its place among the comments of all comment
// blocks: an undo given them puts each back as it was spelled (a value
// holding U+0000 stays one comment), where it stood.

#include <algorithm>
#include <cstring>

#include "Core/Convert/FLACComments.hpp"
#include "Core/Convert/TagFields.hpp"

namespace tarvik::TagFields {
namespace {

const char* keyOf(Field field) {
    static const char* const keys[] = {"TITLE",       "ARTIST",     "ALBUMARTIST", "ALBUM",
                                       "TRACKNUMBER", "DISCNUMBER", "DATE",        "GENRE"};
    return keys[static_cast<int>(field)];
}

std::vector<std::string> split(const std::string& values) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t end; (end = values.find('\0', start)) != std::string::npos; start = end + 1) {
        pieces.push_back(values.substr(start, end - start));
    }
    pieces.push_back(values.substr(start));
    return pieces;
}

// A comment's value: what follows its first "=".
Bytes valueOf(const Bytes& comment) {
    const auto equals = std::find(comment.begin(), comment.end(), '=');
    return Bytes(equals == comment.end() ? equals : equals + 1, comment.end());
}

// The value that kept comments hold; nothing where there are none.
std::optional<std::string> holding(const std::vector<KeptFrame>& comments) {
    std::optional<std::string> value;
    for (const KeptFrame& comment : comments) {
        const Bytes bytes = valueOf(comment.raw);
        value = (value ? *value + '\0' : std::string()) + std::string(bytes.begin(), bytes.end());
    }
    return value;
}

Values valuesOf(const FLACComments::Layout& layout) {
    Values values;
    for (Field field : allFields) values[field] = std::nullopt;
    for (const FLACComments::Block& block : layout.blocks) {
        if (block.type != FLACComments::vorbisCommentType) continue;
        for (const Bytes& comment : FLACComments::readComments(block.body).comments) {
            const std::string key = FLACComments::keyOf(comment);
            for (Field field : allFields) {
                if (key != keyOf(field)) continue;
                const Bytes bytes = valueOf(comment);
                const std::string value(bytes.begin(), bytes.end());
                std::optional<std::string>& slot = values[field];
                slot = slot ? *slot + '\0' + value : value;
            }
        }
    }
    return values;
}

// Puts a kept comment back where it stood: at its index among the comments
// before it, in its own block where the journal names one (the index alone
// can't tell the end of one block from the start of the next).
void restore(std::vector<FLACComments::Comments>& lists, KeptFrame kept) {
    std::uint64_t at = kept.index;
    auto list = lists.begin();
    const auto isLast = [&] { return std::next(list) == lists.end(); };
    if (kept.block) {
        for (std::uint64_t block = 0; block < *kept.block && !isLast(); ++block, ++list) {
            at -= std::min<std::uint64_t>(at, list->comments.size());
        }
    } else {
        while (!isLast() && at > list->comments.size()) {
            at -= list->comments.size();
            ++list;
        }
    }
    list->comments.insert(
        list->comments.begin() +
            static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(at, list->comments.size())),
        std::move(kept.raw));
}

}  // namespace

Values readFLAC(ByteSource& file, std::string_view fileName) {
    return valuesOf(FLACComments::parse(file, fileName));
}

Snapshot snapshotFLAC(ByteSource& file, std::string_view fileName) {
    const FLACComments::Layout layout = FLACComments::parse(file, fileName);
    Snapshot snapshot{valuesOf(layout), {}, false, std::nullopt};
    std::uint64_t index = 0, ordinal = 0;
    for (const FLACComments::Block& block : layout.blocks) {
        if (block.type != FLACComments::vorbisCommentType) continue;
        snapshot.hasTag = true;
        for (const Bytes& comment : FLACComments::readComments(block.body).comments) {
            for (Field field : allFields) {
                if (FLACComments::keyOf(comment) != keyOf(field)) continue;
                snapshot.places.try_emplace(field, FramePlace{index, 0})
                    .first->second.frames.push_back({index, comment, ordinal});
            }
            ++index;
        }
        ++ordinal;
    }
    return snapshot;
}

void patchFLAC(ByteSource& file, const Values& values, const Before& before,
               std::string_view fileName, ByteSink& out) {
    FLACComments::Layout layout = FLACComments::parse(file, fileName);
    const Values old = valuesOf(layout);
    std::vector<FLACComments::Comments> lists;
    for (const FLACComments::Block& block : layout.blocks) {
        if (block.type == FLACComments::vorbisCommentType) {
            lists.push_back(FLACComments::readComments(block.body));
        }
    }
    const bool hadBlock = !lists.empty();
    if (!hadBlock) lists.emplace_back();
    // Comments going back to their places, once the others are in: each
    // index counts the comments before it as they were.
    std::vector<KeptFrame> restored;

    for (const auto& [field, value] : values) {
        const auto spelled = [&](const Bytes& c) { return FLACComments::keyOf(c) == keyOf(field); };
        if (const auto place = before.places.find(field);
            place != before.places.end() && value && holding(place->second.frames) == *value) {
            for (FLACComments::Comments& list : lists) std::erase_if(list.comments, spelled);
            restored.insert(restored.end(), place->second.frames.begin(),
                            place->second.frames.end());
            continue;
        }
        // The key as the file spells it where the field is there already
        // ("title=" stays "title="), so that writing the old value back
        // gives the old comment.
        Bytes key(keyOf(field), keyOf(field) + std::strlen(keyOf(field)));
        for (const FLACComments::Comments& list : lists) {
            const auto found = std::find_if(list.comments.begin(), list.comments.end(), spelled);
            if (found != list.comments.end()) {
                key.assign(found->begin(), std::find(found->begin(), found->end(), '='));
                break;
            }
        }
        std::vector<Bytes> replacement;
        if (value) {
            const bool numbered = field == Field::track || field == Field::disc;
            for (const std::string& piece :
                 split(numbered ? withTotal(*value, old.at(field)) : *value)) {
                Bytes comment = key;
                comment.push_back('=');
                comment.insert(comment.end(), piece.begin(), piece.end());
                replacement.push_back(std::move(comment));
            }
        }
        bool placed = false;
        for (FLACComments::Comments& list : lists) {
            for (auto comment = list.comments.begin(); comment != list.comments.end();) {
                if (FLACComments::keyOf(*comment) != keyOf(field)) {
                    ++comment;
                } else if (!placed) {
                    comment = list.comments.erase(comment);
                    comment = list.comments.insert(comment, replacement.begin(), replacement.end());
                    comment += static_cast<std::ptrdiff_t>(replacement.size());
                    placed = true;
                } else {
                    comment = list.comments.erase(comment);
                }
            }
        }
        if (!placed) {
            lists.front().comments.insert(lists.front().comments.end(), replacement.begin(),
                                          replacement.end());
        }
    }

    std::stable_sort(restored.begin(), restored.end(),
                     [](const KeptFrame& a, const KeptFrame& b) { return a.index < b.index; });
    for (KeptFrame& kept : restored) restore(lists, std::move(kept));

    std::size_t next = 0;
    for (auto block = layout.blocks.begin(); block != layout.blocks.end();) {
        if (block->type != FLACComments::vorbisCommentType) {
            ++block;
            continue;
        }
        const FLACComments::Comments& list = lists[next++];
        // The block a patch added, holding nothing of the user's.
        if (before.tagAdded && lists.size() == 1 && list.comments.empty() &&
            list.vendor == FLACComments::Comments{}.vendor) {
            block = layout.blocks.erase(block);
            continue;
        }
        block->body = FLACComments::commentBody(list);
        ++block;
    }
    // Removals from a file without comments leave it without a block.
    if (!hadBlock && !lists.front().comments.empty()) {
        layout.blocks.insert(layout.blocks.begin() + (layout.blocks.empty() ? 0 : 1),
                             {FLACComments::vorbisCommentType,
                              FLACComments::commentBody(lists.front()), std::nullopt});
    }
    FLACComments::join(layout.blocks, file, layout.audioStart, fileName, out);
}

}  // namespace tarvik::TagFields
