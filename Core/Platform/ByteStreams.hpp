// Where a file rewrite reads from and writes to, so that the tag editors walk
// only a file's head in memory and hand the rest over in bounded chunks: a
// source answers reads at any offset, a sink takes bytes in order and copies
// ranges of a source. The memory forms serve small in-memory rewrites; the
// file forms are in FileStreams.hpp. Not thread-safe: one rewrite owns them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "Core/Platform/Bytes.hpp"

namespace tarvik {

// Copies never hold more than this much of a file in memory at once.
inline constexpr std::size_t copyChunkSize = std::size_t{4} << 20;

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Up to `length` bytes from `offset`; fewer only at the end of the data.
    virtual Bytes read(std::uint64_t offset, std::size_t length) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void append(std::span<const std::uint8_t> bytes) = 0;
    // `length` bytes of `source` from `offset`, chunk by chunk.
    virtual void copy(ByteSource& source, std::uint64_t offset, std::uint64_t length) {
        while (length > 0) {
            const Bytes chunk = source.read(
                offset, static_cast<std::size_t>(std::min<std::uint64_t>(length, copyChunkSize)));
            if (chunk.empty()) return;
            append(chunk);
            offset += chunk.size();
            length -= chunk.size();
        }
    }
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(const Bytes& bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    Bytes read(std::uint64_t offset, std::size_t length) override {
        const std::size_t start =
            static_cast<std::size_t>(std::min<std::uint64_t>(offset, bytes_.size()));
        const std::size_t end = start + std::min(length, bytes_.size() - start);
        return Bytes(bytes_.begin() + static_cast<std::ptrdiff_t>(start),
                     bytes_.begin() + static_cast<std::ptrdiff_t>(end));
    }

private:
    const Bytes& bytes_;
};

class MemorySink final : public ByteSink {
public:
    void append(std::span<const std::uint8_t> bytes) override {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    Bytes& bytes() { return bytes_; }

private:
    Bytes bytes_;
};

}  // namespace tarvik
