// Byte data as it travels between files, encoders and child processes.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvik {

using Bytes = std::vector<std::uint8_t>;

}  // namespace tarvik
