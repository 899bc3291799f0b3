// The menu bar of the main window. There is no "new window" item anywhere:
// the program has exactly one main window. The two checkable items write
// their settings at once and follow them when they change elsewhere.
#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "App/Application/TarvikApp.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/Model/AppModel.hpp"

namespace tarvik {

QAction* TarvikApp::addToggle(QMenu* menu, const QString& text, bool (AppModel::*get)() const,
                              void (AppModel::*set)(bool)) {
    QAction* action = menu->addAction(text);
    action->setCheckable(true);
    action->setChecked((*model_.*get)());
    connect(action, &QAction::toggled, this, [this, set](bool on) { (*model_.*set)(on); });
    connect(model_.get(), &AppModel::settingsChanged, action,
            [this, action, get] { action->setChecked((*model_.*get)()); });
    return action;
}

void TarvikApp::buildMenus() {
    QMenuBar* bar = mainWindow_->menuBar();

    QMenu* file = bar->addMenu("ファイル");
    file->setObjectName("fileMenu");
    QAction* quit =
        file->addAction("タルヴィクを終了", QKeySequence("Ctrl+Q"), this, &TarvikApp::quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu* library = bar->addMenu("ライブラリ");
    library->setObjectName("libraryMenu");
    library->addAction("アーティスト名をまとめる…", this, [this] { model_->setShowAliases(true); });
    library->addSeparator();
    library->addAction("SD カードへ送る…", QKeySequence("Ctrl+E"), this,
                       [this] { model_->setShowSend(true); });
    library->addAction("SD カードを掃除して名前を整える…", this, &TarvikApp::cleanCard);
    addToggle(library, "SD カードを差したら自動で掃除する", &AppModel::autoCleanSD,
              &AppModel::setAutoCleanSD);

    QMenu* view = bar->addMenu("表示");
    view->setObjectName("viewMenu");
    addToggle(view, "表示を軽くする（画面が乱れるパソコン向け）", &AppModel::lowLoadManual,
              &AppModel::setLowLoadManual);
    view->addAction("ログを見る", QKeySequence("Ctrl+L"), this,
                    [this] { model_->setShowLog(!model_->showLog()); });

    QMenu* help = bar->addMenu("ヘルプ");
    help->setObjectName("helpMenu");
    help->addAction("使っているソフトウェアのライセンス（FFmpeg / LAME）", this,
                    &TarvikApp::openLicenses);
    QAction* about = help->addAction("タルヴィクについて", this, &TarvikApp::showAbout);
    about->setMenuRole(QAction::AboutRole);
}

}  // namespace tarvik
