#pragma once

#include <QDateTime>
#include <QString>

#include <string>

#include "infrastructure/signing/CertificateInfo.h"

namespace velk::ui {

// A certificate validity text ("2025-03-01T08:05:00Z") as a UTC time; a text
// without an offset is read as UTC too. Invalid when empty or unreadable.
QDateTime parseCertificateTime(const std::string& text);

// Whether the certificate's notAfter lies before now. A missing or unreadable
// date never counts as expired.
bool certificateExpired(const signing::CertificateInfo& certificate, const QDateTime& nowUtc);

// The two lines a certificate shows in the picker: the subject with its tags,
// then the expiry, the issuer and the provider.
QString certificateItemText(const signing::CertificateInfo& certificate, bool expired);

}  // namespace velk::ui
