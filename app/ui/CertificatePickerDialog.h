#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QListWidget;
class QPushButton;

namespace velk::signing {
class ISigner;
}

namespace velk::ui {

// Lists the signer's certificates and lets the user choose one. exec()
// answers Accepted when Ok was pressed; selectedId then names the choice.
class CertificatePickerDialog : public QDialog {
    Q_OBJECT

public:
    // List items carry the certificate id in this item data role.
    static constexpr int kIdRole = Qt::UserRole + 1;

    explicit CertificatePickerDialog(signing::ISigner* signer, QWidget* parent = nullptr);

    std::string selectedId() const { return selectedId_; }

private:
    void fillList();
    void onSelectionChanged();

    signing::ISigner* signer_;  // not owned
    QListWidget* list_ = nullptr;
    QCheckBox* showExpired_ = nullptr;
    QPushButton* ok_ = nullptr;
    std::string selectedId_;
};

}  // namespace velk::ui
