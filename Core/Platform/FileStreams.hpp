// The file forms of ByteSource and ByteSink. FileSource reads a regular file
// at any offset; AtomicFileSink builds the new content in a hidden temporary
// ".tarvik-" + UUID + ".part" beside the destination and, on commit, flushes
// it and renames it over the destination, so the destination holds its old
// or its whole new content whatever happens; a sink dropped without commit
// removes its temporary file. Ranges copied from a FileSource skip the
// source's holes, so a sparse file stays sparse. One owner each, any thread;
// failures throw ConversionError with the system's reason.
#pragma once

#include <filesystem>
#include <string>

#include "Core/Platform/ByteStreams.hpp"

namespace tarvik {

class FileSource final : public ByteSource {
public:
    // Refuses anything but a regular file without waiting on it:
    // "読み込めません: " + name + "（" + reason + "）".
    explicit FileSource(const std::filesystem::path& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return size_; }
    // Throws when the file turns out shorter than it was when opened.
    Bytes read(std::uint64_t offset, std::size_t length) override;
    int descriptor() const { return descriptor_; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    int descriptor_ = -1;
    std::uint64_t size_ = 0;
};

class AtomicFileSink final : public ByteSink {
public:
    // Creates the destination's missing folders ("フォルダを作れません: …")
    // and the temporary file ("書き込めません: …").
    explicit AtomicFileSink(const std::filesystem::path& destination);
    ~AtomicFileSink() override;
    AtomicFileSink(const AtomicFileSink&) = delete;
    AtomicFileSink& operator=(const AtomicFileSink&) = delete;

    void append(std::span<const std::uint8_t> bytes) override;
    void copy(ByteSource& source, std::uint64_t offset, std::uint64_t length) override;

    // The temporary file, for an editor that changes it in place before the
    // commit (its changes are flushed by the commit too).
    const std::filesystem::path& temporaryPath() const { return temporary_; }
    void commit();

private:
    [[noreturn]] void fail(int errorNumber) const;
    void writeAt(std::span<const std::uint8_t> bytes);

    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
    std::uint64_t position_ = 0;  // where the next bytes go
    std::uint64_t end_ = 0;       // how far the file reaches
};

}  // namespace tarvik
