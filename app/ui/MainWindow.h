#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>
#include <string>

#include "engine/ISettingsProvider.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace velk::core {
class VelkEngine;
}

namespace velk::signing {
class ISigner;
}

namespace velk::ui {

// The text after "CN=" up to the next comma, trimmed; the whole subject when
// it names no CN; empty for an empty subject.
QString commonNameOf(const QString& subject);
// A certificate name as the window shows it: at most 48 characters, a longer
// one cut to its first 47 and "…". Characters, not bytes or UTF-16 units.
QString shortCertificateName(const QString& name);
// A sender's entry in the sender list: "★ " and the name for the active
// sender, three blanks and the name for the others; the name is the display
// name, or the id when it has none.
QString senderEntryText(const core::SenderProfile& sender, bool active);

// The agent's settings window: edits the senders in the settings store, with
// each sender's certificate and PIN, the start-with-the-desktop switch, the
// uninstall link and the update banner. Closing it only hides it. GUI thread
// only.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // None is owned; all must outlive the window.
    MainWindow(core::VelkEngine* engine, core::ISettingsProvider* settings, signing::ISigner* signer,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // An update to offer: an empty URL withdraws the offer.
    void showUpdateAvailable(const QString& version, const QString& downloadUrl);
    // The offered update could not be installed: the reason, and a retry.
    // Does nothing while no update is offered.
    void showUpdateError(const QString& reason);

signals:
    void requestInstallUpdate(const QString& downloadUrl);
    void requestUninstall();

private slots:
    void onSenderSelectionChanged(int index);
    void onPickCertificate();
    void onToggleIdentifierVisibility();
    void onDeleteSender();
    void onSave();
    void onAutoStartToggled(bool enabled);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildUi();
    QFrame* buildUpdateBanner();
    QWidget* labelledField(const QString& label, QWidget* field);
    void fillIdentifierTypes();
    void populateSenders();
    void selectSender(const std::string& id);
    void loadSenderIntoForm(const std::string& id);
    void collectForm();
    void showCertificate(const std::string& certificateId);
    std::string certificateSubject(const std::string& certificateId);
    void askForPin(const std::string& certificateId);
    void onUpdateButton();
    void onUninstall();
    void showSaveOutcome(const QString& doneMessage, int timeoutMs);

    core::VelkEngine* engine_;
    core::ISettingsProvider* settings_;
    signing::ISigner* signer_;
    std::unique_ptr<core::SenderProfile> editedSender_;

    QComboBox* senderCombo_ = nullptr;
    QLineEdit* displayNameEdit_ = nullptr;
    QLineEdit* identifierEdit_ = nullptr;
    QPushButton* eyeButton_ = nullptr;
    QComboBox* identifierTypeCombo_ = nullptr;
    QPlainTextEdit* apiKeyEdit_ = nullptr;
    QLabel* certificateLabel_ = nullptr;
    QPushButton* certificateButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QCheckBox* autoStartBox_ = nullptr;
    QFrame* updateBanner_ = nullptr;
    QLabel* updateBannerText_ = nullptr;
    QPushButton* updateBannerButton_ = nullptr;

    QString pendingUpdateUrl_;
};

}  // namespace velk::ui
