#include "Core/Convert/MP4MovieStream.hpp"

#include <algorithm>
#include <limits>

#include "Core/Platform/Errors.hpp"

namespace tarvik::mp4 {

MovieStream::MovieStream(ByteSource& source, Range movie, std::uint64_t movieLimit,
                         std::string fileName)
    : source_(source),
      base_(movie.offset),
      limit_(movieLimit),
      fileName_(std::move(fileName)),
      movie_(source.read(movie.offset, static_cast<std::size_t>(movie.length))) {
    if (movie_.size() != movie.length) fail("タグが壊れています: " + fileName_);
}

void MovieStream::fail(std::string message) {
    if (!failure_) failure_ = std::move(message);
}

TagLib::ByteVector MovieStream::readBlock(unsigned long length) {
    TagLib::ByteVector out;
    if (failure_) return out;
    if (position_ < base_) {
        const std::uint64_t wanted = std::min<std::uint64_t>(length, base_ - position_);
        Bytes bytes;
        try {
            bytes = source_.read(position_, static_cast<std::size_t>(wanted));
        } catch (const ConversionError& error) {
            fail(error.what());
            return out;
        }
        out.append(TagLib::ByteVector(reinterpret_cast<const char*>(bytes.data()),
                                      static_cast<unsigned int>(bytes.size())));
        position_ += bytes.size();
        length -= static_cast<unsigned long>(bytes.size());
        if (bytes.size() < wanted) return out;
    }
    const std::uint64_t at = position_ - base_;
    if (length > 0 && position_ >= base_ && at < movie_.size()) {
        const std::size_t taken =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, movie_.size() - at));
        out.append(TagLib::ByteVector(reinterpret_cast<const char*>(movie_.data() + at),
                                      static_cast<unsigned int>(taken)));
        position_ += taken;
    }
    return out;
}

std::optional<std::size_t> MovieStream::changeAt(std::uint64_t at, std::uint64_t size) {
    if (failure_) return std::nullopt;
    if (at < base_ || at - base_ > movie_.size()) {
        // Only the movie is TagLib's to change; the rest is copied as it was.
        fail("書き換えた結果を確かめられないため、タグを書き換えませんでした: " + fileName_);
        return std::nullopt;
    }
    if (size > limit_) {
        fail("書き換えた結果が大きくなりすぎるため、タグを書き換えませんでした: " + fileName_);
        return std::nullopt;
    }
    return static_cast<std::size_t>(at - base_);
}

void MovieStream::writeBlock(const TagLib::ByteVector& data) {
    const std::uint64_t at = position_;
    const std::uint64_t end =
        std::max<std::uint64_t>(at - std::min(at, base_) + data.size(), movie_.size());
    const std::optional<std::size_t> offset = changeAt(at, end);
    if (!offset) return;
    if (movie_.size() < *offset + data.size()) movie_.resize(*offset + data.size());
    std::copy(data.begin(), data.end(), movie_.begin() + static_cast<std::ptrdiff_t>(*offset));
    position_ += data.size();
}

void MovieStream::insert(const TagLib::ByteVector& data, unsigned long start,
                         unsigned long replace) {
    const std::uint64_t available =
        start >= base_ && start - base_ <= movie_.size() ? movie_.size() - (start - base_) : 0;
    const std::uint64_t replaced = std::min<std::uint64_t>(replace, available);
    const std::optional<std::size_t> offset =
        changeAt(start, movie_.size() - replaced + data.size());
    if (!offset) return;
    const auto from = movie_.begin() + static_cast<std::ptrdiff_t>(*offset);
    movie_.erase(from, from + static_cast<std::ptrdiff_t>(replaced));
    movie_.insert(movie_.begin() + static_cast<std::ptrdiff_t>(*offset), data.begin(), data.end());
}

void MovieStream::removeBlock(unsigned long start, unsigned long length) {
    const std::optional<std::size_t> offset = changeAt(start, movie_.size());
    if (!offset) return;
    const std::size_t removed =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, movie_.size() - *offset));
    const auto from = movie_.begin() + static_cast<std::ptrdiff_t>(*offset);
    movie_.erase(from, from + static_cast<std::ptrdiff_t>(removed));
}

void MovieStream::seek(long offset, Position from) {
    const long origin = from == Beginning ? 0 : from == Current ? tell() : length();
    const long target = offset > 0 && origin > std::numeric_limits<long>::max() - offset
                            ? std::numeric_limits<long>::max()
                            : origin + offset;
    position_ = static_cast<std::uint64_t>(std::max(target, 0L));
}

long MovieStream::tell() const {
    return static_cast<long>(std::min<std::uint64_t>(
        position_, static_cast<std::uint64_t>(std::numeric_limits<long>::max())));
}

long MovieStream::length() {
    return static_cast<long>(base_ + movie_.size());
}

void MovieStream::truncate(long length) {
    const std::uint64_t wanted = static_cast<std::uint64_t>(std::max(length, 0L));
    const std::optional<std::size_t> offset = changeAt(wanted, wanted - std::min(wanted, base_));
    if (offset) movie_.resize(*offset);
}

}  // namespace tarvik::mp4
