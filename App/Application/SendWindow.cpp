#include "App/Application/SendWindow.hpp"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "App/Windows/SendToSDView.hpp"

namespace tarvik::SendWindow {

namespace {

// The title bar's close button hides the window like "閉じる", and is refused
// while a send runs: the copy would go on with no window to show or stop it.
class Window : public QWidget {
public:
    Window(AppModel& model, SendToSDState::Tools tools) : QWidget(nullptr, Qt::Window) {
        setObjectName("sendWindow");
        setWindowTitle(title);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        // Through close(), so that the refusal below holds for every way out.
        view_ = new SendToSDView(
            model, [this] { close(); }, std::move(tools), this);
        layout->addWidget(view_);
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        if (view_->state().sending()) {
            event->ignore();
            return;
        }
        QWidget::closeEvent(event);
    }

private:
    SendToSDView* view_ = nullptr;
};

}  // namespace

QWidget* create(AppModel& model, SendToSDState::Tools tools) {
    return new Window(model, std::move(tools));
}

}  // namespace tarvik::SendWindow
