#include "ui/ModalDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <utility>

#include <gtest/gtest.h>

namespace velk::test {

namespace {

constexpr int kPollMs = 10;

QString plainText(const QAbstractButton* button) {
    QString text = button->text();
    text.remove(QLatin1Char('&'));
    return text;
}

QAbstractButton* buttonByText(QWidget* dialog, const QString& text) {
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (button->isVisible() && plainText(button) == text) {
            return button;
        }
    }
    return nullptr;
}

QListWidget* firstList(QWidget* dialog) {
    return dialog->findChild<QListWidget*>();
}

// The point of a list row inside the list's viewport, scrolled into view.
bool rowPoint(QListWidget* list, int row, QPoint& point) {
    QListWidgetItem* item = list->item(row);
    if (item == nullptr) {
        return false;
    }
    list->scrollToItem(item);
    point = list->visualItemRect(item).center();
    return true;
}

// As QTest::keyClicks, which asserts on characters outside ASCII: those go
// as key events that carry only their text, as an input method sends them.
void typeInto(QWidget* widget, const QString& text) {
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80) {
            QTest::keyClick(widget, ch.toLatin1());
        } else {
            QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        }
    }
}

ModalSeen describe(QWidget* dialog) {
    ModalSeen seen;
    seen.found = true;
    seen.className = QString::fromLatin1(dialog->metaObject()->className());
    seen.title = dialog->windowTitle();
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->isVisible()) {
            seen.labels << label->text();
        }
    }
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (!button->isVisible()) {
            continue;
        }
        const QString text = plainText(button);
        if (auto* box = qobject_cast<QCheckBox*>(button)) {
            seen.checkBoxes << text;
            if (box->isChecked()) {
                seen.checkedBoxes << text;
            }
            continue;
        }
        seen.buttons << text;
        if (button->isEnabled()) {
            seen.enabledButtons << text;
        }
        if (auto* push = qobject_cast<QPushButton*>(button); push != nullptr && push->isDefault()) {
            seen.defaultButton = text;
        }
    }
    if (QListWidget* list = firstList(dialog)) {
        for (int row = 0; row < list->count(); ++row) {
            seen.listItems << list->item(row)->text();
        }
    }
    return seen;
}

struct Poll {
    const char* className;
    QString title;
    int guardMs;
    bool leaveOpen;
    std::vector<ModalScript::Step> steps;
    std::shared_ptr<ModalSeen> seen;
};

bool matches(const Poll& poll, QWidget* widget) {
    if (widget == nullptr || !widget->isWindow() || !widget->isModal()) {
        return false;
    }
    if (poll.className != nullptr && !widget->inherits(poll.className)) {
        return false;
    }
    return poll.title.isEmpty() || widget->windowTitle() == poll.title;
}

// A step that meant to close the dialog but did not (a disabled default, a
// field that kept its text) would otherwise leave the test waiting forever.
void watchClosing(QPointer<QWidget> dialog, int guardMs, QElapsedTimer waited) {
    QTimer::singleShot(kPollMs, QCoreApplication::instance(), [dialog, guardMs, waited] {
        if (dialog.isNull() || !dialog->isVisible()) {
            return;
        }
        if (waited.elapsed() < guardMs) {
            watchClosing(dialog, guardMs, waited);
            return;
        }
        ADD_FAILURE() << "the modal " << dialog->metaObject()->className() << " titled "
                      << dialog->windowTitle().toStdString() << " was still open " << guardMs
                      << " ms after its script's last step";
        closeAllModals();
    });
}

void runSteps(const std::shared_ptr<Poll>& poll, QPointer<QWidget> alive) {
    // Described again now that the dialog has settled (its default button
    // and focus are set after it is shown), unless it has closed already.
    if (!alive.isNull() && alive->isVisible()) {
        *poll->seen = describe(alive.data());
    }
    int index = 0;
    for (const ModalScript::Step& step : poll->steps) {
        ++index;
        if (alive.isNull() || !alive->isVisible()) {
            poll->seen->problems << QStringLiteral("step %1: the dialog had already closed").arg(index);
            break;
        }
        step(alive.data(), *poll->seen);
    }
    poll->seen->finished = true;
    if (!poll->leaveOpen && !alive.isNull() && alive->isVisible()) {
        QElapsedTimer waited;
        waited.start();
        watchClosing(alive, poll->guardMs, waited);
    }
}

// Sees every modal window as it is shown, so that a dialog closed within
// the turn it opened in is not missed, and hands it to the first armed
// script that matches; each dialog goes to one script only.
class ShowWatcher : public QObject {
public:
    // One for each application object (a program may make several in turn).
    static ShowWatcher& instance() {
        static QPointer<ShowWatcher> watcher;
        if (watcher.isNull()) {
            watcher = new ShowWatcher(QCoreApplication::instance());
        }
        return *watcher;
    }

    void add(const std::shared_ptr<Poll>& poll) {
        pending_.push_back(poll);
        // A dialog already up when the script is armed.
        QTimer::singleShot(0, this, [this, poll] {
            QWidget* modal = QApplication::activeModalWidget();
            if (isPending(poll) && matches(*poll, modal) && !claimed(modal)) {
                take(poll, modal);
            }
        });
        QTimer::singleShot(poll->guardMs, this, [this, poll] {
            if (!isPending(poll)) {
                return;
            }
            std::erase(pending_, poll);
            ADD_FAILURE() << "no modal dialog"
                          << (poll->className != nullptr ? std::string(" of class ") + poll->className : "")
                          << (poll->title.isEmpty() ? "" : " titled " + poll->title.toStdString())
                          << " turned up within " << poll->guardMs << " ms";
            poll->seen->finished = true;
            closeAllModals();
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show || !watched->isWidgetType()) {
            return false;
        }
        auto* widget = static_cast<QWidget*>(watched);
        if (claimed(widget)) {
            return false;
        }
        for (const std::shared_ptr<Poll>& poll : pending_) {
            if (matches(*poll, widget)) {
                take(poll, widget);
                break;
            }
        }
        return false;
    }

private:
    explicit ShowWatcher(QObject* parent) : QObject(parent) { parent->installEventFilter(this); }

    bool isPending(const std::shared_ptr<Poll>& poll) const {
        return std::find(pending_.begin(), pending_.end(), poll) != pending_.end();
    }

    bool claimed(QWidget* widget) {
        std::erase_if(claimed_, [](const QPointer<QWidget>& each) { return each.isNull(); });
        return std::find(claimed_.begin(), claimed_.end(), widget) != claimed_.end();
    }

    void take(std::shared_ptr<Poll> poll, QWidget* dialog) {
        std::erase(pending_, poll);
        claimed_.emplace_back(dialog);
        *poll->seen = describe(dialog);
        // The steps run once exec() has entered the dialog's own loop.
        QTimer::singleShot(0, this, [poll, alive = QPointer<QWidget>(dialog)] { runSteps(poll, alive); });
    }

    std::vector<std::shared_ptr<Poll>> pending_;
    std::vector<QPointer<QWidget>> claimed_;
};

}  // namespace

ModalScript& ModalScript::expect(const char* className) {
    className_ = className;
    return *this;
}

ModalScript& ModalScript::expectTitle(const QString& title) {
    title_ = title;
    return *this;
}

ModalScript& ModalScript::guardMs(int ms) {
    guardMs_ = ms;
    return *this;
}

ModalScript& ModalScript::leaveOpen() {
    leaveOpen_ = true;
    return *this;
}

ModalScript& ModalScript::click(const QString& buttonText) {
    return then([buttonText](QWidget* dialog, ModalSeen& seen) {
        QAbstractButton* button = buttonByText(dialog, buttonText);
        if (button == nullptr) {
            seen.problems << "no button " + buttonText;
        } else if (!button->isEnabled()) {
            seen.problems << "button " + buttonText + " is disabled";
        } else {
            QTest::mouseClick(button, Qt::LeftButton);
        }
    });
}

ModalScript& ModalScript::type(const QString& text, const QString& editName) {
    return then([text, editName](QWidget* dialog, ModalSeen& seen) {
        QLineEdit* edit =
            editName.isEmpty() ? dialog->findChild<QLineEdit*>() : dialog->findChild<QLineEdit*>(editName);
        if (edit == nullptr) {
            seen.problems << "no line edit " + editName;
            return;
        }
        typeInto(edit, text);
    });
}

ModalScript& ModalScript::tick(const QString& boxText, bool checked) {
    return then([boxText, checked](QWidget* dialog, ModalSeen& seen) {
        auto* box = qobject_cast<QCheckBox*>(buttonByText(dialog, boxText));
        if (box == nullptr) {
            seen.problems << "no check box " + boxText;
            return;
        }
        if (box->isChecked() != checked) {
            box->click();
        }
    });
}

ModalScript& ModalScript::doubleClickRow(int row) {
    return then([row](QWidget* dialog, ModalSeen& seen) {
        QListWidget* list = firstList(dialog);
        QPoint point;
        if (list == nullptr || !rowPoint(list, row, point)) {
            seen.problems << QStringLiteral("no list row %1").arg(row);
            return;
        }
        // A double click is a press and release followed by a second press
        // that arrives as the double click, as a real mouse delivers it.
        QPointer<QWidget> viewport(list->viewport());
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, point);
        QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, point);
        if (!viewport.isNull() && viewport->isVisible()) {
            QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, point);
        }
    });
}

ModalScript& ModalScript::selectRow(int row) {
    return then([row](QWidget* dialog, ModalSeen& seen) {
        QListWidget* list = firstList(dialog);
        QPoint point;
        if (list == nullptr || !rowPoint(list, row, point)) {
            seen.problems << QStringLiteral("no list row %1").arg(row);
            return;
        }
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    });
}

ModalScript& ModalScript::press(Qt::Key key) {
    return then([key](QWidget* dialog, ModalSeen&) {
        QWidget* target = dialog->focusWidget();
        QTest::keyClick(target != nullptr ? target : dialog, key);
    });
}

ModalScript& ModalScript::pressOn(const QString& buttonText, Qt::Key key) {
    return then([buttonText, key](QWidget* dialog, ModalSeen& seen) {
        QAbstractButton* button = buttonByText(dialog, buttonText);
        if (button == nullptr) {
            seen.problems << "no button " + buttonText;
            return;
        }
        dialog->activateWindow();
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(button, key);
    });
}

ModalScript& ModalScript::closeWindow() {
    return then([](QWidget* dialog, ModalSeen&) { dialog->close(); });
}

ModalScript& ModalScript::then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
}

std::shared_ptr<const ModalSeen> ModalScript::arm() {
    auto poll = std::make_shared<Poll>();
    poll->className = className_;
    poll->title = title_;
    poll->guardMs = guardMs_;
    poll->leaveOpen = leaveOpen_;
    poll->steps = steps_;
    poll->seen = std::make_shared<ModalSeen>();
    ShowWatcher::instance().add(poll);
    return poll->seen;
}

bool waitFinished(const std::shared_ptr<const ModalSeen>& seen, int timeoutMs) {
    return QTest::qWaitFor([&] { return seen->finished; }, timeoutMs);
}

void closeAllModals() {
    // Bounded: a widget that refuses to close must not spin the test.
    for (int i = 0; i < 32; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            return;
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        if (QApplication::activeModalWidget() == modal) {
            modal->hide();
        }
    }
}

UnexpectedModals::UnexpectedModals(const char* className) : className_(className) {
    QCoreApplication::instance()->installEventFilter(this);
}

UnexpectedModals::~UnexpectedModals() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool UnexpectedModals::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType() && watched->inherits(className_)) {
        ++count_;
        // Once exec() has entered its loop, so the reject ends that loop.
        QPointer<QDialog> dialog(qobject_cast<QDialog*>(watched));
        QTimer::singleShot(0, this, [dialog] {
            if (!dialog.isNull()) {
                dialog->reject();
            }
        });
    }
    return false;
}

}  // namespace velk::test
