// Byte data as it travels between files, encoders and child processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvik {

using Bytes = std::vector<std::uint8_t>;

enum class ByteOrder { big, little };

// The unsigned number of `width` bytes (at most 8) at `at`, in `order`; the
// caller checked that the bytes are there.
inline std::uint64_t numberAt(const Bytes& bytes, std::size_t at, std::size_t width,
                              ByteOrder order) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = (value << 8) | bytes[order == ByteOrder::big ? at + i : at + width - 1 - i];
    }
    return value;
}

}  // namespace tarvik
