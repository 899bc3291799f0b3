// The album identity reader of files on a card (an ID3v2 tag or the atoms
// down to an M4A item list) on any bytes: it never throws, and what it
// returns is a short text.
#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Testing/Fuzz.hpp"

namespace tarvik {
namespace {

void run(std::span<const std::uint8_t> data) {
    const fuzz::MemoryFile file(data);
    const std::optional<std::string> identity = AlbumIdentity::read(file.path());
    if (identity && identity->size() > 1024) throw fuzz::Finding("an identity longer than any");
}

const fuzz::Registration registration("AlbumIdentity", run);

}  // namespace
}  // namespace tarvik
