#include "ui/CertificateListText.h"

#include <QCoreApplication>
#include <QStringList>

namespace velk::ui {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("CertificatePickerDialog", text);
}

QString utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

}  // namespace

QDateTime parseCertificateTime(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    // Qt's ISO reading takes "Z" and numeric offsets; a bare time would be
    // local, but the signer's texts are UTC.
    QDateTime time = QDateTime::fromString(utf8(text), Qt::ISODate);
    if (!time.isValid()) {
        return {};
    }
    if (time.timeSpec() == Qt::LocalTime) {
        time.setTimeSpec(Qt::UTC);
    }
    return time.toUTC();
}

bool certificateExpired(const signing::CertificateInfo& certificate, const QDateTime& nowUtc) {
    const QDateTime notAfter = parseCertificateTime(certificate.notAfter);
    return notAfter.isValid() && notAfter < nowUtc;
}

QString certificateItemText(const signing::CertificateInfo& certificate, bool expired) {
    QStringList tags;
    if (certificate.hardware) {
        tags << tr("хардуер");
    }
    if (expired) {
        tags << tr("ИЗТЕКЪЛ");
    }
    QString first = utf8(certificate.subject);
    if (!tags.isEmpty()) {
        first += QStringLiteral("  ") + tags.join(QLatin1Char(' '));
    }

    QStringList details;
    if (!certificate.notAfter.empty()) {
        const QDateTime notAfter = parseCertificateTime(certificate.notAfter);
        const QString date =
            notAfter.isValid() ? notAfter.toString(QStringLiteral("dd.MM.yyyy")) : utf8(certificate.notAfter);
        details << tr("до %1").arg(date);
    }
    if (!certificate.issuer.empty()) {
        details << tr("издаден от: %1").arg(utf8(certificate.issuer));
    }
    if (!certificate.provider.empty()) {
        details << utf8(certificate.provider);
    }
    return first + QLatin1Char('\n') + details.join(QStringLiteral("   ·   "));
}

}  // namespace velk::ui
