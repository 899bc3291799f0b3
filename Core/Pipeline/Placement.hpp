// Where one track goes on the card under a device profile: the folders of the
// profile's layout and a file name made from the track and disc numbers and
// the title, every component made card-safe. Pure functions, callable from any
// thread; they never fail (names that clean to nothing take fallbacks).
#pragma once

#include <cstdint>
#include <string>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik::Placement {

struct Location {
    std::string folder;    // "/"-separated below the destination; empty for its top
    std::string fileName;  // with the extension

    std::string path() const { return folder.empty() ? fileName : folder + "/" + fileName; }

    bool operator==(const Location&) const = default;
};

// `albumIndex` is the 1-based position of the track's album in the plan, which
// numbers the album folders whose titles keep nothing under an ASCII-only
// profile; `albumNumber` is the album's number within its album artist under
// the "artist" layout (0 for none).
Location location(const TrackMeta& meta, const DeviceProfile& profile, std::int64_t albumIndex,
                  std::int64_t albumNumber);

// The album folder's name alone, as `location` makes it.
std::string albumName(const TrackMeta& meta, const DeviceProfile& profile, std::int64_t albumIndex);

// Where the track would land on a card without limits: every name cleaned and
// made card-safe but never cut, folded to ASCII or mapped to CP932, and no
// album number. Two tracks with equal unlimited places are one song; two whose
// card places meet without that are different songs the card's limits made
// alike.
Location unlimitedLocation(const TrackMeta& meta, const DeviceProfile& profile);
std::string unlimitedAlbumName(const TrackMeta& meta);

}  // namespace tarvik::Placement
