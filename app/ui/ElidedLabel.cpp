#include "ui/ElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QResizeEvent>

namespace velk::ui {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent), full_(text) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    // The layout decides the width; the text follows it.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        elide();
    }
}

void ElidedLabel::elide() {
    const int width = contentsRect().width();
    // The middle goes: the start names the scheme, the end the domain.
    const QString shown = width > 0 ? fontMetrics().elidedText(full_, Qt::ElideMiddle, width) : full_;
    if (shown != text()) {
        setText(shown);
    }
}

}  // namespace velk::ui
