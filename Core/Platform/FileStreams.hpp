// The file forms of ByteSource and ByteSink. FileSource reads a regular file
// at any offset; AtomicFileSink builds the new content in a hidden temporary
// ".tarvik-" + UUID + ".part" beside the destination and, on commit, flushes
// it and renames it over the destination, so the destination holds its old
// or its whole new content whatever happens; a sink dropped without commit
// removes its temporary file. A file it replaces hands its owner, group,
// mode and extended attributes on to the new content. Ranges copied from a
// FileSource skip the source's holes, so a sparse file stays sparse. One
// owner each, any thread; failures throw ConversionError with the system's
// reason, naming the destination (never the temporary).
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include "Core/Platform/ByteStreams.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik {

// Which file a path held, and as what: another file renamed into its place,
// or the same file written to, compares unequal.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since 1970

    static FileIdentity of(const struct stat& facts);
    bool operator==(const FileIdentity&) const = default;
};

class FileSource final : public ByteSource {
public:
    // Refuses anything but a regular file without waiting on it:
    // "読み込めません: " + name + "（" + reason + "）".
    explicit FileSource(const std::filesystem::path& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return identity_.size; }
    // Throws when the file turns out shorter than it was when opened.
    Bytes read(std::uint64_t offset, std::size_t length) override;
    int descriptor() const { return descriptor_; }
    const std::filesystem::path& path() const { return path_; }
    // The file as it was when opened.
    const FileIdentity& identity() const { return identity_; }
    // "読み込めません: " + name + "（読んでいる間にファイルが短くなりました）"
    [[noreturn]] void shrank() const;

private:
    std::filesystem::path path_;
    int descriptor_ = -1;
    FileIdentity identity_;
};

// An in-place edit's commit found the file it read replaced or changed
// meanwhile (another program saved it): the new content was thrown away.
class FileChangedMeanwhile : public ConversionError {
public:
    using ConversionError::ConversionError;
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
    // Copying from the destination itself makes the sink an in-place edit:
    // its commit then replaces the destination only while it is still the
    // file that was opened, unchanged.
    void copy(ByteSource& source, std::uint64_t offset, std::uint64_t length) override;

    // The temporary file, for an editor that changes it in place before the
    // commit (its changes are flushed by the commit too).
    const std::filesystem::path& temporaryPath() const { return temporary_; }
    // Throws FileChangedMeanwhile for an in-place edit whose file changed,
    // else ConversionError; the temporary is removed either way.
    void commit();

private:
    [[noreturn]] void fail(int errorNumber) const;
    void writeAt(std::span<const std::uint8_t> bytes);
    int takeOver(const struct stat& replaced);

    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
    std::uint64_t position_ = 0;  // where the next bytes go
    std::uint64_t end_ = 0;       // how far the file reaches
    std::optional<FileIdentity> destinationAtStart_;
    std::optional<FileIdentity> replaces_;  // an in-place edit: the file read
};

// Makes the folder's entries (names just given, renamed or taken) durable;
// never fails.
void syncFolder(const std::filesystem::path& folder);

}  // namespace tarvik
