// What a card file says of itself (its tags by every form, its length by
// every header kind) on any bytes: it never throws, reads no further than
// the file, a length it gives is a finite number of seconds, and an empty
// file is no whole copy.
#include <cmath>

#include "Core/Convert/AudioFacts.hpp"
#include "Core/Convert/AudioLength.hpp"
#include "Core/Testing/Fuzz.hpp"

namespace tarvik {
namespace {

void run(std::span<const std::uint8_t> data) {
    const fuzz::MemoryFile file(data);
    const std::optional<AudioFacts::Facts> facts = AudioFacts::read(file.path());
    if (!facts) throw fuzz::Finding("a memory file that could not be read");
    if (facts->size != data.size()) throw fuzz::Finding("another size than the file's");
    if (!facts->trailer.empty() && facts->trailer.size() != 128) {
        throw fuzz::Finding("a trailer of another length than 128 bytes");
    }
    if (data.empty() && AudioFacts::isWhole(facts)) {
        throw fuzz::Finding("a file without a byte taken for a whole copy");
    }
    // The length by itself, as a source's is read.
    const Bytes bytes(data.begin(), data.end());
    MemorySource source(bytes);
    for (const std::optional<double> seconds : {facts->seconds, AudioLength::seconds(source)}) {
        if (seconds && (!std::isfinite(*seconds) || *seconds <= 0)) {
            throw fuzz::Finding("a length that is no positive number of seconds");
        }
    }
}

const fuzz::Registration registration("AudioFacts", run);

}  // namespace
}  // namespace tarvik
