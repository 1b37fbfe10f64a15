#pragma once

#include <QObject>
#include <QString>

namespace velk::ui {

class GuiLoop;

// The confirmation of one operation, on the GUI thread. The local API is
// handed it but does not call it.
class UiConfirmer : public QObject {
    Q_OBJECT

public:
    explicit UiConfirmer(GuiLoop& loop);
    UiConfirmer();
    UiConfirmer(const UiConfirmer&) = delete;
    UiConfirmer& operator=(const UiConfirmer&) = delete;

public slots:
    // True when the user confirmed. From any thread: on the GUI thread the
    // dialog runs directly, from another the call waits for it; false once
    // the event loop has ended.
    bool confirmOperation(const QString& operationName, const QString& eik, bool isSubmission);

private:
    GuiLoop& loop_;
};

}  // namespace velk::ui
