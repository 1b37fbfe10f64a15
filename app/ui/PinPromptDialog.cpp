#include "ui/PinPromptDialog.h"

#include <QByteArray>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velk::ui {

PinPromptDialog::PinPromptDialog(const QString& label, bool hardwareHint, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("PIN за електронен подпис"));
    setModal(true);
    setFixedWidth(440);
    auto* layout = new QVBoxLayout(this);

    const QString hint = hardwareHint ? tr("Въведете PIN за смарт карта / USB устройство.")
                                      : tr("Въведете PIN за сертификата.");
    message_ = new QLabel(this);
    message_->setTextFormat(Qt::RichText);
    message_->setWordWrap(true);
    // One pass over both arguments: a "%2" inside the label stays as typed.
    message_->setText(
        QStringLiteral("<p><b>%1</b></p><p style='color:#555'>%2</p>").arg(label.toHtmlEscaped(), hint));
    layout->addWidget(message_);

    auto* form = new QFormLayout;
    pinEdit_ = new QLineEdit(this);
    pinEdit_->setObjectName(QStringLiteral("pinEdit"));
    pinEdit_->setEchoMode(QLineEdit::Password);
    pinEdit_->setMaxLength(kMaxPinLength);
    form->addRow(tr("PIN:"), pinEdit_);
    layout->addLayout(form);

    remember_ = new QCheckBox(tr("Запомни PIN (няма да пита отново)"), this);
    remember_->setChecked(true);
    layout->addWidget(remember_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setText(tr("Продължи"));
    ok_->setEnabled(false);
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Отказ"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(pinEdit_, &QLineEdit::textChanged, this,
            [this](const QString& text) { ok_->setEnabled(!text.isEmpty()); });
    layout->addWidget(buttons);

    pinEdit_->setFocus();
}

PinPromptDialog::~PinPromptDialog() {
    // Best effort: also drops the edit's undo history.
    pinEdit_->setText(QString());
}

QString PinPromptDialog::pin() const {
    return pinEdit_->text();
}

bool PinPromptDialog::remember() const {
    return remember_->isChecked();
}

std::string PinPromptDialog::takePin() {
    QString text = pinEdit_->text();
    // Once the edit lets go of it, text holds the only reference, so the
    // overwrite below lands on the buffer itself rather than on a copy.
    pinEdit_->setText(QString());
    QByteArray utf8 = text.toUtf8();
    text.fill(QChar(0));
    text.clear();

    std::string pin;
    pin.reserve(static_cast<std::size_t>(utf8.size()));
    pin.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    utf8.fill('\0');
    utf8.clear();
    return pin;
}

void PinPromptDialog::hideRemember() {
    remember_->setChecked(false);
    remember_->hide();
}

}  // namespace velk::ui
