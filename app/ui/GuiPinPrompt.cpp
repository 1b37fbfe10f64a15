#include "ui/GuiPinPrompt.h"

#include <QCoreApplication>
#include <QString>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "infrastructure/signing/ISigner.h"
#include "platform/SecureWipe.h"
#include "ui/DialogPlacement.h"
#include "ui/GuiLoop.h"
#include "ui/PinPromptDialog.h"

namespace velk::ui {

namespace {

constexpr std::size_t kIdLabelChars = 40;

struct CertificateLabel {
    QString text;
    bool hardware = true;
};

// The subject of the certificate, or the start of its id when the signer does
// not list it. Read on the asking thread: the GUI thread never waits for the
// signer.
CertificateLabel labelFor(signing::ISigner* signer, const std::string& certificateId) {
    if (signer != nullptr) {
        try {
            for (const signing::CertificateInfo& info : signer->listCertificates()) {
                if (info.id == certificateId && !info.subject.empty()) {
                    return {QString::fromStdString(info.subject), info.hardware};
                }
            }
        } catch (const std::exception&) {
            // Named by its id instead.
        }
    }
    return {QString::fromStdString(certificateId.substr(0, kIdLabelChars)), true};
}

// The PIN on its way from the GUI thread to the asker; wiped when the last
// side lets go, also when the asker gave up before the dialog closed.
struct PinSlot {
    std::string pin;
    ~PinSlot() { platform::secureWipe(pin); }
};

}  // namespace

GuiPinPrompt::GuiPinPrompt(signing::ISigner* signer) : GuiPinPrompt(signer, GuiLoop::application()) {}

GuiPinPrompt::GuiPinPrompt(signing::ISigner* signer, GuiLoop& loop) : signer_(signer), loop_(&loop) {}

platform::PinAnswer GuiPinPrompt::operator()(const platform::PinRequest& request) const {
    platform::PinAnswer answer;
    answer.status = platform::kScardWCancelledByUser;
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || loop_->ended()) {
        return answer;
    }

    const CertificateLabel label = labelFor(signer_, request.certificateId);
    auto slot = std::make_shared<PinSlot>();
    const bool entered = loop_->call<bool>(
        application,
        [slot, label] {
            PinPromptDialog dialog(label.text, label.hardware);
            // The store keeps the PIN only while the agent runs: no promise
            // to remember it is made here.
            dialog.hideRemember();
            centreOnPrimaryScreen(dialog);
            dialog.raise();
            dialog.activateWindow();
            if (dialog.exec() != QDialog::Accepted) {
                return false;
            }
            std::string pin = dialog.takePin();
            slot->pin.assign(pin);
            platform::secureWipe(pin);
            return !slot->pin.empty();
        },
        false);
    // Only a finished dialog hands the slot back; one still open after the
    // asker gave up wipes it when it lets go.
    if (entered) {
        answer.status = platform::kStatusOk;
        answer.pin.assign(slot->pin);
        platform::secureWipe(slot->pin);
    }
    return answer;
}

}  // namespace velk::ui
