#pragma once

#include <QObject>
#include <QString>

namespace velk::ui {

// The confirmation of one operation, on the GUI thread. The local API is
// handed it but does not call it.
//
// The dialog is not built yet: until it is, every operation is declined.
class UiConfirmer : public QObject {
    Q_OBJECT

public:
    UiConfirmer() = default;
    UiConfirmer(const UiConfirmer&) = delete;
    UiConfirmer& operator=(const UiConfirmer&) = delete;

public slots:
    // True when the user confirmed.
    bool confirmOperation(const QString& operationName, const QString& eik, bool isSubmission);
};

}  // namespace velk::ui
