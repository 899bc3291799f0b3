// TagLib's view of an M4A file whose tags are being changed: the file up to
// the end of its "moov" atom. What lies before the moov is read from the
// source and may never be written; the moov is a copy in memory that TagLib
// changes, and may grow only up to a limit. So TagLib never rewrites the
// audio behind a moov that stands first (a whole copy, every hole filled),
// never writes to a file, and a hostile file can make it grow nothing but a
// bounded buffer. TagLib is never told of a failure (it would carry on
// unchecked, or unwind through code not written for it): the stream does
// nothing more and remembers the first; its owner refuses after TagLib
// returns. One owner, one thread.
#pragma once

#include <tiostream.h>

#include <cstdint>
#include <optional>
#include <string>

#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::mp4 {

class MovieStream final : public TagLib::IOStream {
public:
    // Reads the movie now; the source must outlive the stream. The movie may
    // grow to `movieLimit` bytes.
    MovieStream(ByteSource& source, Range movie, std::uint64_t movieLimit, std::string fileName);

    // The moov atom as TagLib left it.
    const Bytes& movie() const { return movie_; }
    // The message to refuse the edit with, once something failed.
    const std::optional<std::string>& failure() const { return failure_; }

    TagLib::FileName name() const override { return fileName_.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    void insert(const TagLib::ByteVector& data, unsigned long start,
                unsigned long replace) override;
    void removeBlock(unsigned long start, unsigned long length) override;
    bool readOnly() const override { return false; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position from) override;
    long tell() const override;
    long length() override;
    void truncate(long length) override;

private:
    // The offset in the movie of a change at `at` that leaves it `size`
    // bytes long; nothing (and the failure remembered) when it may not be made.
    std::optional<std::size_t> changeAt(std::uint64_t at, std::uint64_t size);
    void fail(std::string message);

    ByteSource& source_;
    std::uint64_t base_;  // where the movie starts in the file
    std::uint64_t limit_;
    std::string fileName_;
    Bytes movie_;
    std::uint64_t position_ = 0;
    std::optional<std::string> failure_;
};

}  // namespace tarvik::mp4
