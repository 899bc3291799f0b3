// An M4A file's item list edited item by item, raw: every item atom that
// does not change keeps its bytes and its place, a changed field's item is
// made anew in the place of the first one, and an item given back (as an
// undo gives it) takes its old bytes and place again. A file without a
// list gets one, and the undo takes it away again with what held it. So what a reader made
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

#include "Core/Convert/M4AEdit.hpp"
#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Convert/TagFields.hpp"

namespace tarvik::mp4 {

// The item a field is written in: "\251nam", "trkn", …
std::string itemName(TagFields::Field field);
// Every item a field may be held in, that one first: the genre also in a
// number of the ID3v1 list ("gnre"), as older encoders wrote it.
std::vector<std::string> itemNames(TagFields::Field field);

// A field's items as they stand, for a journal: the value (0xFF, then each
// item atom whole, in order; nothing when there is none) and their places
// among the items (flags 0); whether the file has a list, and where it has
// none, the atom a patch adds to hold one (see listHolder).
TagFields::Snapshot snapshot(const Layout& layout);

// The item list with the fields set: a text value in UTF-8 data (strings
// apart at U+0000 in data atoms of their own), track and disc as number
// pairs keeping the file's total unless the value has its own, a raw value
// (0xFF and item atoms, as `snapshot` gives) as those atoms, nothing: the
// field's items removed. A new value takes the place of the field's first
// item, whatever its name, and the others go. Where `before` keeps a field's items and the value
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

// For a moov without an item list: the atom that withList adds to hold one,
// "udta" where the moov has none, "meta" where its udta has none, else
// "ilst" in the udta's first meta.
std::string listHolder(const Bytes& movie);
// The moov with that atom added at the end of its parent, holding an empty
// list (a meta of iTunes' kind, as other taggers make it, where one is
// added). Throws "iTunes 形式でない meta アトムを持つ M4A には項目を足せません: "
// for a first meta of another handler, where readers would not look.
Bytes withList(const Bytes& movie, std::uint64_t movieOffset, std::string_view fileName);
// The moov without the atom `added` that withList added, where it holds
// nothing but what withList made (the list is empty again); else as it is.
Bytes withoutList(const Bytes& movie, std::uint64_t movieOffset, std::string_view added);

// The moov of `file`, laid out as `layout` (see m4a::editable), with the
// fields set item by item (withFields), raw, so that every other item and
// the changed ones' old bytes stay as they were: in a list added where the
// file has none (withList), and without what held it where `before` says
// it was added and the list is empty again (withoutList). For m4a::edit to
// put together and check.
m4a::Movie movieWithFields(ByteSource& file, const Layout& layout, const TagFields::Values& values,
                           const TagFields::Before& before, std::string_view fileName);

}  // namespace tarvik::mp4
