#pragma once
// The application object: one AppModel for the life of the process, the main
// window with its menus, the single send window, the About box and the licence
// reveal. Built once by main() on the GUI thread, after the appearance has been
// applied; closing a window destroys nothing but the send window's content.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "App/Application/Licenses.hpp"
#include "App/Kit/Dialogs.hpp"

class QAction;
class QWidget;

namespace tarvik {

class AppModel;
class InteractiveCleaning;
class MainWindow;

class TarvikApp : public QObject {
    Q_OBJECT

public:
    static constexpr const char* credits =
        "音声の変換に FFmpeg と LAME（どちらも "
        "LGPL）を使っています。ライセンスはメニュー「ヘルプ」から見られます。\n\n"
        "「曲名の表記を自動で整える」をオンにしたときだけ、アーティスト名・アルバム名・曲名を "
        "Apple の検索サービス"
        "（iTunes Search API）に問い合わせます。それ以外に、曲やこのパソコンの情報を"
        "どこかへ送ることはありません。\n\n"
        "このソフトは無保証です。SD カードの中身や大切な曲は、バックアップしてから使ってください。";

    explicit TarvikApp(std::unique_ptr<AppModel> model,
                       Licenses::Desktop desktop = Licenses::Desktop::standard());
    ~TarvikApp() override;

    void show();
    AppModel& model() { return *model_; }
    MainWindow& mainWindow() { return *mainWindow_; }
    // The send window, null until it is first asked for.
    QWidget* sendWindow() const { return sendWindow_; }

    // Opens the single send window, or brings it forward when it is open.
    void openSend();
    void showAbout();
    // What the About box says.
    static Dialogs::Message aboutMessage();
    void openLicenses();
    void cleanCard();
    // Ctrl+Q and the session's quit signals: the send, the run and the menu's
    // cleaning are told to stop and the event loop ends without asking any
    // window, since a window that refuses to close (a send, the review, the
    // cleaning's sheet) would otherwise keep the program alive through a
    // logout. The destructors then wait for the workers, the copy under way
    // to be whole or removed; main() waits no longer than a second for any.
    void quit();

private:
    void buildMenus();
    QAction* addToggle(class QMenu* menu, const QString& text, bool (AppModel::*get)() const,
                       void (AppModel::*set)(bool));

    std::unique_ptr<AppModel> model_;
    Licenses::Desktop desktop_;
    std::unique_ptr<MainWindow> mainWindow_;
    QPointer<QWidget> sendWindow_;
    QPointer<InteractiveCleaning> cleaning_;  // the menu's cleaning, while it runs
};

}  // namespace tarvik
