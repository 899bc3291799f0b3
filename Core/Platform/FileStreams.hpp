// The file forms of ByteSource and ByteSink. FileSource reads a regular file
// at any offset; AtomicFileSink builds the new content in a hidden temporary
// ".tarvik-" + UUID + ".part" beside the destination and, on commit, flushes
// it and renames it over (or, editing in place, exchanges it with) the
// destination, so the destination holds its old or its whole new content
// whatever happens; a sink dropped without commit removes its temporary. A
// file it replaces hands its owner, group, mode and extended attributes on
// to the new content. Ranges copied from a FileSource skip the source's
// holes, so a sparse file stays sparse. One owner each, any thread;
// failures throw ConversionError with the system's reason, naming the
// destination (never the temporary).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Platform/ByteStreams.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileIdentity.hpp"

namespace tarvik {

// Told by an in-place commit what it is about to put in the file's place,
// once that content is whole under its leftover name and before the file is
// touched, so that a record of it outlasts a kill at any later step. It may
// throw to call the commit off: the file is kept and the error goes on.
using BeforeReplacing = std::function<void(const NewContent&)>;

// An in-place edit found the file it was to change replaced or changed since
// it was checked or read (another program saved it): nothing was replaced.
class FileChangedMeanwhile : public ConversionError {
public:
    using ConversionError::ConversionError;
};

// An in-place edit whose new content came out empty: nothing was replaced.
class EmptyEdit : public ConversionError {
public:
    using ConversionError::ConversionError;
};

class FileSource final : public ByteSource {
public:
    // Refuses anything but a regular file without waiting on it:
    // "読み込めません: " + name + "（" + reason + "）". `seen`, when given, is
    // the file as the caller checked it: another file at the path now, or
    // this one changed since, throws FileChangedMeanwhile.
    explicit FileSource(const std::filesystem::path& path,
                        const std::optional<FileIdentity>& seen = std::nullopt);
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

class AtomicFileSink final : public ByteSink {
public:
    // Creates the destination's missing folders ("フォルダを作れません: …")
    // and the temporary file ("書き込めません: …"). An in-place edit's
    // commit tells `beforeReplacing` its new content.
    explicit AtomicFileSink(const std::filesystem::path& destination,
                            BeforeReplacing beforeReplacing = {});
    ~AtomicFileSink() override;
    AtomicFileSink(const AtomicFileSink&) = delete;
    AtomicFileSink& operator=(const AtomicFileSink&) = delete;

    void append(std::span<const std::uint8_t> bytes) override;
    // Copying from the destination itself makes the sink an in-place edit:
    // its commit then replaces the destination only while it is still the
    // file that was opened, unchanged (open the source with the identity
    // seen when it was checked, and that is the one compared), and never
    // with nothing.
    void copy(ByteSource& source, std::uint64_t offset, std::uint64_t length) override;

    // The temporary file, for an editor that changes it in place before the
    // commit (its changes are flushed by the commit too).
    const std::filesystem::path& temporaryPath() const { return temporary_; }
    // Throws FileChangedMeanwhile for an in-place edit whose file changed,
    // EmptyEdit for one whose new content is empty, else ConversionError;
    // the temporary is removed either way. An in-place edit exchanges the
    // two names in one step where the file system can, so that a save
    // landing at the last moment comes out under the hidden name and is
    // exchanged back (see InPlaceLeftover for a commit killed meanwhile).
    void commit();

private:
    [[noreturn]] void fail(int errorNumber) const;
    [[noreturn]] void changedMeanwhile() const;
    void writeAt(std::span<const std::uint8_t> bytes);
    int takeOver(const struct stat& replaced);
    void replaceInPlace(const FileIdentity& written);

    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
    std::uint64_t position_ = 0;  // where the next bytes go
    std::uint64_t end_ = 0;       // how far the file reaches
    std::optional<FileIdentity> destinationAtStart_;
    std::optional<FileIdentity> replaces_;  // an in-place edit: the file read
    BeforeReplacing beforeReplacing_;
};

// Gives `a` the name `b` and `b` the name `a` in one step; false, with
// errno, where that fails (EINVAL: the file system can't).
bool exchangeNames(const std::filesystem::path& a, const std::filesystem::path& b);

// Makes the folder's entries (names just given, renamed or taken) durable;
// never fails.
void syncFolder(const std::filesystem::path& folder);

}  // namespace tarvik
