#include "ui/CertificatePickerDialog.h"

#include <QCheckBox>
#include <QColor>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFont>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>
#include <vector>

#include "infrastructure/signing/ISigner.h"
#include "ui/CertificateListText.h"

namespace velk::ui {

CertificatePickerDialog::CertificatePickerDialog(signing::ISigner* signer, QWidget* parent)
    : QDialog(parent), signer_(signer) {
    setWindowTitle(tr("Избор на сертификат"));
    resize(640, 440);
    auto* layout = new QVBoxLayout(this);

    auto* intro = new QLabel(tr("Изберете КЕП сертификат за подаване към НАП."), this);
    intro->setStyleSheet(QStringLiteral("color: #5C5C5C;"));
    layout->addWidget(intro);

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("certificateList"));
    list_->setAlternatingRowColors(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Qualified certificates have long subjects: wrap them rather than hide
    // the tags and the issuer behind a sideways scroll.
    list_->setWordWrap(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setResizeMode(QListView::Adjust);
    layout->addWidget(list_, 1);

    showExpired_ = new QCheckBox(tr("Показвай и изтекли"), this);
    layout->addWidget(showExpired_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setEnabled(false);
    ok_->setProperty("role", QStringLiteral("primary"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(list_, &QListWidget::itemSelectionChanged, this, &CertificatePickerDialog::onSelectionChanged);
    // A click on a disabled Ok does nothing, so the placeholder cannot be chosen.
    connect(list_, &QListWidget::itemDoubleClicked, ok_, [this] { ok_->click(); });

    fillList();
    connect(showExpired_, &QCheckBox::toggled, this, [this] { fillList(); });
}

void CertificatePickerDialog::onSelectionChanged() {
    QListWidgetItem* current = list_->currentItem();
    ok_->setEnabled(current != nullptr);
    if (current != nullptr) {
        selectedId_ = current->data(kIdRole).toString().toStdString();
    } else {
        selectedId_.clear();
    }
}

void CertificatePickerDialog::fillList() {
    list_->clear();

    std::vector<signing::CertificateInfo> certificates;
    try {
        certificates = signer_->listCertificates();
    } catch (const std::exception& e) {
        // The message is the signer's; shown as plain text, never as markup.
        QMessageBox box(QMessageBox::Warning, tr("Грешка"),
                        tr("Не успяхме да изброим сертификати:\n%1").arg(QString::fromUtf8(e.what())),
                        QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return;
    }

    const bool showExpired = showExpired_->isChecked();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const signing::CertificateInfo& certificate : certificates) {
        const bool expired = certificateExpired(certificate, now);
        if (expired && !showExpired) {
            continue;
        }
        auto* item = new QListWidgetItem(certificateItemText(certificate, expired), list_);
        item->setData(kIdRole, QString::fromStdString(certificate.id));
        if (expired) {
            QFont font = item->font();
            font.setItalic(true);
            item->setFont(font);
            item->setForeground(QColor(138, 138, 138));
        }
    }

    if (list_->count() > 0) {
        list_->setCurrentRow(0);
    } else {
        auto* placeholder = new QListWidgetItem(tr("(няма налични сертификати)"), list_);
        placeholder->setFlags(Qt::NoItemFlags);
    }
}

}  // namespace velk::ui
