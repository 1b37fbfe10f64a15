#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <Qt>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace velk::test {

// What a scripted answer saw of the modal dialog it acted on, taken when the
// dialog turned up and before any step ran.
struct ModalSeen {
    bool found = false;     // the dialog turned up before the guard time ran out
    bool finished = false;  // every step ran (or the guard gave up)
    QString className;      // the dialog's meta-object class, e.g. "velk::ui::PinPromptDialog"
    QString title;
    QStringList labels;   // visible label texts, in creation order
    QStringList buttons;  // visible button texts without mnemonic "&"
    QStringList enabledButtons;
    QStringList checkBoxes;  // visible check box texts
    QStringList checkedBoxes;
    QStringList listItems;  // texts of the items of the first list widget
    QString defaultButton;  // text of the default push button, if any
    QStringList problems;   // steps that could not act (missing or disabled widget)
};

// A scripted answer to the next modal dialog shown that matches: arm it
// before the code under test calls exec(). The dialog is seen as it is shown,
// so even one closed within its first event-loop turn counts as found; the
// steps run in order once its loop runs, each dialog going to the first
// armed script that matches. A dialog that does not turn up within the
// guard time, or is still open that long after the last step, fails the test
// and every modal widget still open is closed, so a test never hangs.
//
//   auto seen = ModalScript().expect("velk::ui::PinPromptDialog")
//                   .type("1234").click("Продължи").arm();
//   EXPECT_EQ(dialog.exec(), QDialog::Accepted);
//   EXPECT_EQ(seen->title, "PIN за електронен подпис");
//
// For a chain (a dialog that opens another), arm one script per dialog up
// front, each expecting its own class or title.
class ModalScript {
public:
    using Step = std::function<void(QWidget* dialog, ModalSeen& seen)>;

    // Waits for a modal widget that inherits this class (meta-object name)...
    ModalScript& expect(const char* className);
    // ...and/or carries this window title.
    ModalScript& expectTitle(const QString& title);
    // How long to wait for the dialog, and for it to close after the last
    // step; by default 20 s.
    ModalScript& guardMs(int ms);
    // The steps do not close the dialog (something else will): no check
    // that it closes after the last step.
    ModalScript& leaveOpen();

    // Clicks the visible button with this text ("&" ignored); a disabled
    // button is not clicked and is noted as a problem.
    ModalScript& click(const QString& buttonText);
    // Types into the line edit with this object name, or the first one.
    ModalScript& type(const QString& text, const QString& editName = QString());
    // Sets the check box with this text to the given state, by clicking it.
    ModalScript& tick(const QString& boxText, bool checked = true);
    // Double-clicks the list item in this row of the first list widget.
    ModalScript& doubleClickRow(int row);
    // Selects this row of the first list widget, as a click would.
    ModalScript& selectRow(int row);
    // Presses the key on the dialog's focus widget (the dialog itself when none).
    ModalScript& press(Qt::Key key);
    // Presses the key with focus on the visible button of this text.
    ModalScript& pressOn(const QString& buttonText, Qt::Key key);
    // Closes the dialog as the window's close button would.
    ModalScript& closeWindow();
    // Anything else.
    ModalScript& then(Step step);

    // Starts watching; the result fills in as the steps run.
    std::shared_ptr<const ModalSeen> arm();

private:
    const char* className_ = nullptr;
    QString title_;
    int guardMs_ = 20'000;
    bool leaveOpen_ = false;
    std::vector<Step> steps_;
};

// Runs the event loop until the script has finished (or the guard gave up);
// for dialogs opened by work the test does not wait on with exec().
bool waitFinished(const std::shared_ptr<const ModalSeen>& seen, int timeoutMs = 30'000);

// Closes every modal widget still open (a failed test must not leave one).
void closeAllModals();

// For tests that a dialog does NOT open: while it lives, every dialog of the
// class that is shown is counted and rejected at once, so the code under test
// goes on as if the user had cancelled it and the test never hangs.
class UnexpectedModals : public QObject {
public:
    explicit UnexpectedModals(const char* className);
    ~UnexpectedModals() override;
    UnexpectedModals(const UnexpectedModals&) = delete;
    UnexpectedModals& operator=(const UnexpectedModals&) = delete;

    int count() const { return count_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const char* className_;
    int count_ = 0;
};

}  // namespace velk::test
