#include "ui/UiConfirmer.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/DialogPlacement.h"
#include "ui/GuiLoop.h"

namespace velk::ui {

namespace {

QLabel* addLabel(QVBoxLayout* layout, QDialog* dialog, const QString& text, int extraPoints, bool bold) {
    auto* label = new QLabel(text, dialog);
    // Names and numbers come from the caller: shown as typed, never as markup.
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPointSize(font.pointSize() + extraPoints);
    font.setBold(bold);
    label->setFont(font);
    layout->addWidget(label);
    return label;
}

QLabel* addCaption(QVBoxLayout* layout, QDialog* dialog, const QString& text) {
    auto* caption = new QLabel(text, dialog);
    caption->setStyleSheet(QStringLiteral("color:#5F6470; font-size:9pt;"));
    layout->addWidget(caption);
    return caption;
}

bool runConfirmation(const QString& operationName, const QString& eik, bool isSubmission) {
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("VELK Agent — Потвърждение"));
    dialog.setModal(true);
    dialog.setMinimumWidth(640);
    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(28, 24, 28, 20);
    layout->setSpacing(14);

    QLabel* heading = addLabel(
        layout, &dialog,
        isSubmission ? QStringLiteral("⚠  ПОДАВАНЕ към НАП") : QStringLiteral("ℹ  Извличане на данни"), 1,
        true);
    heading->setStyleSheet(isSubmission ? QStringLiteral("color:#b00020;")
                                        : QStringLiteral("color:#1a5fb4;"));

    auto* line = new QFrame(&dialog);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    addCaption(layout, &dialog, QStringLiteral("Изпълнение:"));
    QLabel* operation = addLabel(layout, &dialog, operationName, 2, true);
    operation->setWordWrap(true);
    operation->setTextInteractionFlags(Qt::TextSelectableByMouse);

    if (!eik.isEmpty()) {
        layout->addSpacing(4);
        addCaption(layout, &dialog, QStringLiteral("Булстат на задълженото лице:"));
        auto* eikLabel = new QLabel(eik, &dialog);
        eikLabel->setTextFormat(Qt::PlainText);
        QFont mono = eikLabel->font();
        mono.setFamilies(
            {QStringLiteral("Consolas"), QStringLiteral("Courier New"), QStringLiteral("monospace")});
        mono.setStyleHint(QFont::Monospace);
        mono.setPointSize(mono.pointSize() + 1);
        mono.setBold(true);
        eikLabel->setFont(mono);
        eikLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(eikLabel);
    }

    layout->addSpacing(12);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* yes = buttons->addButton(QStringLiteral("Да"), QDialogButtonBox::AcceptRole);
    QPushButton* no = buttons->addButton(QStringLiteral("Не"), QDialogButtonBox::RejectRole);
    // Enter declines, whatever order the desktop puts the buttons in.
    yes->setAutoDefault(false);
    no->setDefault(true);
    QObject::connect(yes, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(no, &QPushButton::clicked, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    no->setFocus();

    centreOnPrimaryScreen(dialog);
    dialog.raise();
    dialog.activateWindow();
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace

UiConfirmer::UiConfirmer(GuiLoop& loop) : loop_(loop) {}

UiConfirmer::UiConfirmer() : UiConfirmer(GuiLoop::application()) {}

bool UiConfirmer::confirmOperation(const QString& operationName, const QString& eik, bool isSubmission) {
    return loop_.call<bool>(
        this,
        [operationName, eik, isSubmission] { return runConfirmation(operationName, eik, isSubmission); },
        false);
}

}  // namespace velk::ui
