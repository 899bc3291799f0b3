#include "Core/Convert/TagEditor.hpp"

#include <algorithm>
#include <string>

#include "Core/Convert/FLACComments.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::TagEditor {
namespace {

std::string extensionOf(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    if (!extension.empty()) extension.erase(0, 1);  // the dot
    return text::lower(extension);
}

}  // namespace

bool canEdit(const std::filesystem::path& file) {
    const std::string extension = extensionOf(file);
    return std::find(editableExtensions.begin(), editableExtensions.end(), extension) !=
           editableExtensions.end();
}

void write(const std::filesystem::path& source, const TrackMeta& meta,
           const std::filesystem::path& destination) {
    const std::string extension = extensionOf(source);
    if (extension == "mp3") {
        writeID3(source, meta, destination);
    } else if (extension == "flac") {
        writeFLAC(source, meta, destination);
    } else if (extension == "m4a") {
        writeM4A(source, meta, destination);
    } else {
        throw ConversionError("この形式のタグは書き換えられません: " + source.filename().string());
    }
}

void writeFLAC(const std::filesystem::path& source, const TrackMeta& meta,
               const std::filesystem::path& destination) {
    FileSource file(source);
    AtomicFileSink out(destination);
    FLACComments::rewrite(file, meta, source.filename().string(), out);
    out.commit();
}

}  // namespace tarvik::TagEditor
