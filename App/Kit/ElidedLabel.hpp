#pragma once
// A one-line text that never wraps and, when too long, is shortened in the
// middle ("/home/u/…/Music") so that both ends stay readable; the full text is
// its tool tip. For paths. Owned by its parent; GUI thread only.
//
// Use:  auto* path = new ElidedLabel(parent); path->setText(QString::fromStdString(srcPath));
#include <QLabel>

namespace tarvik {

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString fullText() const { return full_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString full_;
};

}  // namespace tarvik
