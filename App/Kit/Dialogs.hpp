#pragma once
// Every file chooser and message box of the application goes through here, so
// that tests can answer them in advance instead of a person. Without a
// Dialogs::Script the real QFileDialog and QMessageBox run modally; with one,
// nothing is shown: each request is recorded and takes the next prepared
// answer (a folder chooser without one counts as cancelled). The real folder
// chooser is still made and dropped unseen then, so that what it reads on
// this thread is read in tests too: the folder it opens in, above all, which
// is why windows open it through FolderChooser. GUI thread only; never fails.
//
// Use:  auto folder = Dialogs::chooseFolder(this, {.message = "…", .start = home});
//       Dialogs::show(this, {.kind = Dialogs::Message::Kind::information, .text = "掃除しました",
//       .informative = lines});
// Tests: Dialogs::Script script; script.answerFolder("/tmp/music");  ...click...
//        EXPECT_EQ(script.folderRequests().at(0).message, "…");
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace tarvik::Dialogs {

struct FolderRequest {
    std::string message;          // the text above the chooser
    std::filesystem::path start;  // the folder it opens in; empty for the home folder
    bool canCreateFolders = false;

    bool operator==(const FolderRequest&) const = default;
};

struct Message {
    enum class Kind { information, warning, critical };
    Kind kind = Kind::information;
    std::string text;         // the message in bold
    std::string informative;  // the smaller text under it; may be empty. Both can be selected.

    bool operator==(const Message&) const = default;
};

// What a folder chooser says of a folder whose name is not UTF-8.
inline constexpr std::string_view unreadableName =
    "フォルダの名前に読み取れない文字（UTF-8 ではない文字）があるため、このフォルダは選べません。"
    "ファイルマネージャで名前を変えてから、選び直してください。";

// A folder the user chose, with its name's bytes, or nothing when cancelled
// or refused (a name that is not UTF-8, with a message saying so).
std::optional<std::filesystem::path> chooseFolder(QWidget* parent, const FolderRequest& request);
// A message with a single OK button; returns when it is closed.
void show(QWidget* parent, const Message& message);

// The real dialogs the two above run, not yet shown: for pictures of them.
std::unique_ptr<QFileDialog> folderDialog(QWidget* parent, const FolderRequest& request);
std::unique_ptr<QMessageBox> messageBox(QWidget* parent, const Message& message);

// While one lives, dialogs are answered from it. Not nested.
class Script {
public:
    Script();
    ~Script();
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    // The next folder chooser returns `folder` (nullopt: the user cancels),
    // read back as the real chooser's text is.
    void answerFolder(std::optional<std::filesystem::path> folder);

    const std::vector<FolderRequest>& folderRequests() const { return folderRequests_; }
    const std::vector<Message>& messages() const { return messages_; }

private:
    friend std::optional<std::filesystem::path> chooseFolder(QWidget*, const FolderRequest&);
    friend void show(QWidget*, const Message&);

    std::deque<std::optional<std::filesystem::path>> folderAnswers_;
    std::vector<FolderRequest> folderRequests_;
    std::vector<Message> messages_;
};

}  // namespace tarvik::Dialogs
