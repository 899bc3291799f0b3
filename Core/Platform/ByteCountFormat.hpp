// Byte counts as a user reads them: decimal units the way file sizes are
// usually shown ("532 KB", "1.2 GB"), so that a card's free space reads the
// same here as in the desktop's file manager. Pure and thread-safe; never
// depends on the process locale.
#pragma once

#include <cstdint>
#include <string>

namespace tarvik {

// Below 1,000 the count is whole bytes ("0 バイト", "999 バイト"); from there
// on KB without decimals, MB with one, GB and larger with two, trailing zeros
// dropped. A value that rounds up to 1,000 of a unit is shown in the next one.
std::string formatByteCount(std::int64_t bytes);

}  // namespace tarvik
