// Reading and changing an M4A file's item list through TagLib without ever
// letting TagLib near a damaged file or the user's own file: the atom tree is
// checked first, the change is made in a hidden temporary copy beside the
// destination, and the copy replaces the destination only when every item
// not changed and the audio (the media data and where the chunks point) read
// back as they were. Stateless, any thread; failures throw ConversionError
// and leave the destination as it was.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace TagLib::MP4 {
class Tag;
}

namespace tarvik::m4a {

// The file's tag, read-only, after the atom tree was checked.
void read(const std::filesystem::path& file, const std::function<void(TagLib::MP4::Tag&)>& look);

// `change` may set or remove only the items named in `changedItems`.
void edit(const std::filesystem::path& source, const std::filesystem::path& destination,
          const std::vector<std::string>& changedItems,
          const std::function<void(TagLib::MP4::Tag&)>& change);

}  // namespace tarvik::m4a
