#pragma once
// The application object: one AppModel for the life of the process, the main
// window and the single send window, the menus, the About box and the licence
// reveal. Built once by main() on the GUI thread.
#include <memory>

#include <QObject>

class QMainWindow;

namespace tarvik {

class AppModel;

class TarvikApp : public QObject {
    Q_OBJECT

public:
    explicit TarvikApp(std::unique_ptr<AppModel> model);
    ~TarvikApp() override;

    void show();
    AppModel& model() { return *model_; }

private:
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<QMainWindow> mainWindow_;
};

}  // namespace tarvik
