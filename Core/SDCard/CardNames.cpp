#include "Core/SDCard/CardNames.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "Core/Naming/SafeName.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {
namespace {

std::string folderForm(std::string_view name) {
    return SafeName::padForJIS(SafeName::mapForJIS(name));
}

// Names on a card match ignoring letter case and normalisation. Unlike
// CardTree::fileKey, bytes that are not UTF-8 are read as U+FFFD rather than
// kept: such names clash more often, and the rename refuses rather than risk
// taking another file's place.
std::string clashKey(std::string_view name) {
    return text::nfc(text::lower(text::nfc(name)));
}

// Owns a descriptor of the folder the rename happens in.
class Folder {
public:
    explicit Folder(const std::string& path)
        : descriptor_(::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {
    }
    ~Folder() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    int descriptor() const { return descriptor_; }

    // Renames within the folder; the error number on failure, else 0.
    int rename(const std::string& from, const std::string& to) const {
        return ::renameat(descriptor_, from.c_str(), descriptor_, to.c_str()) == 0 ? 0 : errno;
    }

private:
    int descriptor_;
};

}  // namespace

std::string safeName(std::string_view name, bool isDir) {
    if (isDir) return folderForm(name);
    const std::string extension = pathExtension(name);
    if (extension.empty()) return SafeName::mapForJIS(name);
    // The base is everything before the last ".", cut at that byte.
    const std::string_view base = name.substr(0, name.size() - extension.size() - 1);
    return SafeName::mapForJIS(base) + "." + extension;
}

std::string_view withoutPadding(std::string_view name) {
    constexpr std::string_view padding = "\u3000";
    while (name.ends_with(padding)) name.remove_suffix(padding.size());
    return name;
}

std::string cardRelativePath(std::string_view relativePath) {
    std::string result;
    for (std::string_view component : components(relativePath)) {
        if (!result.empty()) result += '/';
        result += folderForm(component);
    }
    return result;
}

std::string cardFilePath(std::string_view relativeFilePath) {
    const std::size_t slash = relativeFilePath.rfind('/');
    if (slash == std::string_view::npos) return std::string(relativeFilePath);
    const std::string folder = cardRelativePath(relativeFilePath.substr(0, slash));
    const std::string_view file = relativeFilePath.substr(slash + 1);
    if (folder.empty()) return std::string(file);
    return folder + "/" + std::string(file);
}

void renameOnCard(const std::filesystem::path& path, std::string_view newName) {
    const std::string parent = parentPath(path.native());
    const std::string oldName = lastComponent(path.native());
    const std::string target = text::nfc(newName);

    const std::string wanted = clashKey(newName);
    for (const std::string& name : listNames(parent.empty() ? "." : parent)) {
        if (name == oldName) continue;  // the item itself, byte for byte
        if (clashKey(name) == wanted) {
            throw ConversionError("同じ名前のファイルがあります: " + std::string(newName));
        }
    }

    // The steps work inside the folder by descriptor: the folder's own path
    // is used as listed, since normalising it could name another folder on a
    // file system that keeps names as bytes.
    const Folder folder(parent);
    const std::string temporary = ".tarvik-rename-" + makeUuid();
    if (folder.descriptor() < 0) {
        throw ConversionError(fileSystemMessage("名前を付けられません: ", temporary, errno));
    }
    if (int failure = folder.rename(oldName, temporary); failure != 0) {
        throw ConversionError(fileSystemMessage("名前を付けられません: ", temporary, failure));
    }
    if (int failure = folder.rename(temporary, target); failure != 0) {
        // Back under the old name exactly as it was listed, not an NFC form of it.
        folder.rename(temporary, oldName);
        throw ConversionError(fileSystemMessage("名前を付けられません: ", target, failure));
    }
}

void moveOnCard(const PosixFS::Root& card, const std::string& from, const std::string& to) {
    const std::string fromFolder = parentPath(from);
    const std::string toFolder = parentPath(to);
    const std::string name = lastComponent(to);
    if (fromFolder == toFolder) {
        renameOnCard(card.folder / from, name);
        return;
    }
    const std::filesystem::path target = PosixFS::makeDirs(card, toFolder) / text::nfc(name);
    // rename() would take the place of an empty folder there.
    if (PosixFS::exists(target)) {
        throw ConversionError(fileSystemMessage("名前を付けられません: ", name, EEXIST));
    }
    if (::rename((card.folder / from).c_str(), target.c_str()) != 0) {
        throw ConversionError(fileSystemMessage("名前を付けられません: ", name, errno));
    }
    if (!fromFolder.empty()) ::rmdir((card.folder / fromFolder).c_str());
}

}  // namespace tarvik::SDCardTools
