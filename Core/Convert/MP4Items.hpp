// An M4A file's item list edited item by item, raw: every item atom that
// does not change keeps its bytes and its place, a changed field's item is
// made anew in the place of the first one, and an item given back (as an
// undo gives it) takes its old bytes and place again. So what a reader made
// of an item never decides what is written: bytes that are no UTF-8, and a
// field held in several items, come back as they were. Works on the "moov"
// atom in memory (the atom tree checked before by mp4::inspect): the
// sizes of the atoms around the list follow it, and so do the chunk offsets
// where the audio lies after the moov. Pure, any thread; failures throw
// ConversionError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Convert/TagFields.hpp"

namespace tarvik::mp4 {

// The item a field is kept in: "\251nam", "trkn", …
std::string itemName(TagFields::Field field);

// A field's items as they stand, for a journal: the value (0xFF, then each
// item atom whole, in order; nothing when there is none) and their places
// among the items (flags 0).
TagFields::Snapshot snapshot(const Layout& layout);

// The item list with the fields set: a text value in UTF-8 data (strings
// apart at U+0000 in data atoms of their own), track and disc as number
// pairs keeping the file's total unless the value has its own, a raw value
// (0xFF and item atoms, as `snapshot` gives) as those atoms, nothing: the
// field's items removed. Where `before` keeps a field's items and the value
// is theirs, each goes back to its place. Throws "番号として書けません: " for a
// number a pair can't hold, "扱えない M4A の項目です: " for a raw value that is
// not whole items of the field.
std::vector<Item> withFields(const std::vector<Item>& items, const TagFields::Values& values,
                             const TagFields::Before& before, std::string_view fileName);

// The moov atom `movie` (standing at `movieOffset` in the file) with its
// item list made of `items`: the atoms that hold the list grow or shrink
// with it, and every chunk offset that points past the moov moves with its
// end. Throws "タグが大きすぎます" where a size or an offset no longer fits its
// 32 bits.
Bytes withItems(const Bytes& movie, std::uint64_t movieOffset, const std::vector<Item>& items);

}  // namespace tarvik::mp4
