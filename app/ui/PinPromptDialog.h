#pragma once

#include <QDialog>
#include <QString>

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velk::ui {

// Asks for the PIN of one certificate and whether to remember it. Cannot be
// accepted with an empty PIN.
class PinPromptDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxPinLength = 64;

    // label names the certificate (shown literally, never as markup);
    // hardwareHint speaks of a smart card or USB token.
    PinPromptDialog(const QString& label, bool hardwareHint, QWidget* parent = nullptr);
    ~PinPromptDialog() override;

    // The text of the PIN edit. Prefer takePin, which leaves no copy behind.
    QString pin() const;
    bool remember() const;

    // The PIN as UTF-8; empties the edit and wipes the intermediate copies.
    // The caller wipes the returned text after use (platform::secureWipe).
    std::string takePin();

    // For callers that cannot keep the PIN: the remember box is not offered.
    void hideRemember();

private:
    QLabel* message_ = nullptr;
    QLineEdit* pinEdit_ = nullptr;
    QCheckBox* remember_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace velk::ui
