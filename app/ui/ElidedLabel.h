#pragma once

#include <QLabel>
#include <QString>

namespace velk::ui {

// One line of plain text that is cut with "…" to the width it gets, instead
// of widening its window. The text is never read as markup.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);

    QString fullText() const { return full_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString full_;
};

}  // namespace velk::ui
