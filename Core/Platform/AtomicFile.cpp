#include "Core/Platform/AtomicFile.hpp"

#include "Core/Platform/FileStreams.hpp"

namespace tarvik {

void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
    AtomicFileSink sink(target);
    sink.append({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    sink.commit();
}

}  // namespace tarvik
