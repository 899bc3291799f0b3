#pragma once
// The licence opener of the Help menu: reveals the delivered licence file in
// the desktop's file manager with the file selected, or the "Licenses" folder
// itself when the file is missing. The file manager is asked through
// org.freedesktop.FileManager1; where none answers, the folder is opened
// instead. Never opens the file in an editor. When the desktop can do neither
// (no file manager, no program for folders), the caller learns which folder
// to name in its message, so that the menu item never does nothing silently.
// GUI thread only.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tarvik::Licenses {

inline constexpr const char* folderName = "Licenses";
inline constexpr const char* fileName = "はじめにお読みください（ライセンス）.txt";

// What the desktop does with an item; tests record the calls instead.
struct Desktop {
    // Shows `item` selected in the file manager; false when no file manager answered.
    std::function<bool(const std::filesystem::path& item)> showItem;
    // Opens a folder in whatever the desktop opens folders with; false when
    // the desktop has nothing to open it with.
    std::function<bool(const std::filesystem::path& folder)> openFolder;

    static Desktop standard();
};

// The licence file, or the licence folder when the file is missing; nothing
// without a resources folder.
std::optional<std::filesystem::path> itemToReveal(
    const std::optional<std::filesystem::path>& resources);

// Reveals the licences; the folder the desktop could not open, or nothing
// when it showed them (or there is no resources folder to show).
std::optional<std::filesystem::path> reveal(const std::optional<std::filesystem::path>& resources,
                                            const Desktop& desktop);

// What the menu says when the desktop could not open `folder`.
inline constexpr const char* notOpened = "ライセンスのフォルダを開けませんでした";
std::string notOpenedDetail(const std::filesystem::path& folder);

}  // namespace tarvik::Licenses
