#include <QCheckBox>
#include <QColor>
#include <QDateTime>
#include <QListWidget>
#include <QPushButton>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/CertificateListText.h"
#include "ui/CertificatePickerDialog.h"
#include "ui/ModalDialogs.h"
#include "ui/ScriptedSigner.h"

namespace velk::ui {
namespace {

using test::certificate;
using test::ModalScript;

constexpr const char* kPicker = "velk::ui::CertificatePickerDialog";
const QString kPast = QStringLiteral("2020-01-01T00:00:00Z");

std::string nextYear() {
    return QDateTime::currentDateTimeUtc().addYears(1).toString(Qt::ISODate).toStdString();
}

// --- the text rules --------------------------------------------------------

struct TimeCase {
    const char* text;
    const char* utc;  // ISO text of the parsed time in UTC; empty when invalid
};

TEST(CertificateListTextTest, ValidityTextsAreReadAsUtc) {
    const std::vector<TimeCase> cases = {
        {"2030-05-06T23:30:00Z", "2030-05-06T23:30:00Z"},
        {"2030-05-06T23:30:00", "2030-05-06T23:30:00Z"},  // no offset: the signer's texts are UTC
        {"2030-05-06T23:30:00+02:00", "2030-05-06T21:30:00Z"},
        {"2024-02-29T12:00:00Z", "2024-02-29T12:00:00Z"},
        {"", ""},
        {"2024-13-01T00:00:00Z", ""},
        {"not a date", ""},
    };
    for (const TimeCase& c : cases) {
        const QDateTime time = parseCertificateTime(c.text);
        EXPECT_EQ(time.isValid() ? time.toString(Qt::ISODate).toStdString() : "", c.utc) << c.text;
    }
}

TEST(CertificateListTextTest, OnlyAReadableDateInThePastExpires) {
    const QDateTime now = QDateTime::fromString("2025-06-01T12:00:00Z", Qt::ISODate);
    const std::vector<std::pair<const char*, bool>> cases = {
        {"2025-06-01T11:59:59Z", true},
        {"2025-06-01T12:00:00Z", false},
        {"2025-06-01T12:00:01Z", false},
        {"2020-01-01T00:00:00Z", true},
        {"", false},
        {"garbage", false},
    };
    for (const auto& [notAfter, expired] : cases) {
        EXPECT_EQ(certificateExpired(certificate("id", "CN=A", notAfter), now), expired) << notAfter;
    }
}

struct ItemCase {
    const char* name;
    signing::CertificateInfo info;
    bool expired;
    const char* text;
};

signing::CertificateInfo full(bool hardware, std::string notAfter) {
    signing::CertificateInfo info = certificate("id", "CN=Иван Петров", std::move(notAfter), hardware);
    info.issuer = "CN=B-Trust";
    info.provider = "SoftHSM";
    return info;
}

TEST(CertificateListTextTest, ItemTextShowsTagsAndTheDetailsThatExist) {
    const std::vector<ItemCase> cases = {
        {"software", full(false, "2030-05-06T10:00:00Z"), false,
         "CN=Иван Петров\nдо 06.05.2030   ·   издаден от: CN=B-Trust   ·   SoftHSM"},
        {"hardware", full(true, "2030-05-06T10:00:00Z"), false,
         "CN=Иван Петров  хардуер\nдо 06.05.2030   ·   издаден от: CN=B-Trust   ·   SoftHSM"},
        {"hardware expired", full(true, "2020-01-01T00:00:00Z"), true,
         "CN=Иван Петров  хардуер ИЗТЕКЪЛ\nдо 01.01.2020   ·   издаден от: CN=B-Trust   ·   SoftHSM"},
        {"expired", full(false, "2020-01-01T00:00:00Z"), true,
         "CN=Иван Петров  ИЗТЕКЪЛ\nдо 01.01.2020   ·   издаден от: CN=B-Trust   ·   SoftHSM"},
        {"date in UTC", full(false, "2030-05-06T23:30:00Z"), false,
         "CN=Иван Петров\nдо 06.05.2030   ·   издаден от: CN=B-Trust   ·   SoftHSM"},
        {"no date", full(false, ""), false, "CN=Иван Петров\nиздаден от: CN=B-Trust   ·   SoftHSM"},
        {"unreadable date", full(false, "31/12/2030"), false,
         "CN=Иван Петров\nдо 31/12/2030   ·   издаден от: CN=B-Trust   ·   SoftHSM"},
        {"nothing but the subject", certificate("id", "CN=Иван Петров", ""), false, "CN=Иван Петров\n"},
    };
    for (const ItemCase& c : cases) {
        EXPECT_EQ(certificateItemText(c.info, c.expired).toStdString(), c.text) << c.name;
    }
}

// --- the dialog -------------------------------------------------------------

QListWidget* listOf(CertificatePickerDialog& dialog) {
    return dialog.findChild<QListWidget*>("certificateList");
}

TEST(CertificatePickerDialogTest, FirstCertificateIsPreselectedAndOkReturnsIt) {
    test::ScriptedSigner signer;
    signer.certificates = {certificate("AA11", "CN=Иван Петров", nextYear()),
                           certificate("BB22", "CN=Мария", "")};
    CertificatePickerDialog dialog(&signer);
    auto seen = ModalScript().expect(kPicker).click("OK").arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedId(), "AA11");
    EXPECT_EQ(seen->title, "Избор на сертификат");
    EXPECT_TRUE(seen->labels.contains("Изберете КЕП сертификат за подаване към НАП."));
    EXPECT_TRUE(seen->enabledButtons.contains("OK"));
    EXPECT_TRUE(seen->checkBoxes.contains("Показвай и изтекли"));
    EXPECT_TRUE(seen->checkedBoxes.isEmpty());
    EXPECT_TRUE(seen->problems.isEmpty()) << seen->problems.join("; ").toStdString();

    QListWidget* list = listOf(dialog);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->item(1)->data(Qt::UserRole + 1).toString(), "BB22");
}

TEST(CertificatePickerDialogTest, ADoubleClickAcceptsThatCertificate) {
    test::ScriptedSigner signer;
    signer.certificates = {certificate("AA11", "CN=A", ""), certificate("BB22", "CN=B", ""),
                           certificate("CC33", "CN=C", "")};
    CertificatePickerDialog dialog(&signer);
    auto seen = ModalScript().expect(kPicker).doubleClickRow(2).arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedId(), "CC33");
    EXPECT_TRUE(seen->problems.isEmpty()) << seen->problems.join("; ").toStdString();
}

TEST(CertificatePickerDialogTest, CancelRejects) {
    test::ScriptedSigner signer;
    signer.certificates = {certificate("AA11", "CN=A", "")};
    CertificatePickerDialog dialog(&signer);
    ModalScript().expect(kPicker).selectRow(0).click("Cancel").arm();
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
}

TEST(CertificatePickerDialogTest, OnlyExpiredCertificatesShowThePlaceholderUntilTheBoxIsTicked) {
    test::ScriptedSigner signer;
    signer.certificates = {certificate("OLD1", "CN=Стар", kPast.toStdString())};
    CertificatePickerDialog dialog(&signer);
    QListWidget* list = listOf(dialog);
    ASSERT_NE(list, nullptr);

    bool placeholderInert = false;
    bool expiredStyled = false;
    auto seen = ModalScript()
                    .expect(kPicker)
                    .then([&](QWidget*, test::ModalSeen&) {
                        placeholderInert = list->count() == 1 && list->item(0)->flags() == Qt::NoItemFlags &&
                                           list->currentItem() == nullptr;
                    })
                    .click("OK")  // disabled: noted, not pressed
                    .tick("Показвай и изтекли")
                    .then([&](QWidget*, test::ModalSeen&) {
                        QListWidgetItem* item = list->item(0);
                        expiredStyled = list->count() == 1 && item->font().italic() &&
                                        item->foreground().color() == QColor(138, 138, 138) &&
                                        item->text().startsWith("CN=Стар  ИЗТЕКЪЛ\n");
                    })
                    .click("OK")
                    .arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedId(), "OLD1");
    EXPECT_EQ(seen->listItems, QStringList{"(няма налични сертификати)"});
    EXPECT_FALSE(seen->enabledButtons.contains("OK"));
    EXPECT_EQ(seen->problems, QStringList{"button OK is disabled"});
    EXPECT_TRUE(placeholderInert);
    EXPECT_TRUE(expiredStyled);
}

TEST(CertificatePickerDialogTest, ADoubleClickOnThePlaceholderDoesNothing) {
    test::ScriptedSigner signer;
    CertificatePickerDialog dialog(&signer);
    auto seen = ModalScript().expect(kPicker).doubleClickRow(0).click("Cancel").arm();
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.selectedId(), "");
    EXPECT_TRUE(seen->problems.isEmpty()) << seen->problems.join("; ").toStdString();
}

TEST(CertificatePickerDialogTest, CertificatesWithoutADateAreAlwaysListedAndFreshOnesPlain) {
    test::ScriptedSigner signer;
    signer.certificates = {certificate("OLD1", "CN=Стар", kPast.toStdString()),
                           certificate("NODATE", "CN=Без дата", ""),
                           certificate("CARD", "CN=Карта", nextYear(), true)};
    CertificatePickerDialog dialog(&signer);
    auto seen = ModalScript().expect(kPicker).click("Cancel").arm();
    dialog.exec();
    ASSERT_EQ(seen->listItems.size(), 2);
    EXPECT_EQ(seen->listItems[0], "CN=Без дата\n");
    EXPECT_TRUE(seen->listItems[1].startsWith("CN=Карта  хардуер\nдо ")) << seen->listItems[1].toStdString();
    EXPECT_FALSE(listOf(dialog)->item(1)->font().italic());
}

TEST(CertificatePickerDialogTest, AListingErrorIsShownAndTheBoxTriesAgain) {
    test::ScriptedSigner signer;
    signer.listError = "<b>token</b> removed";
    // The box comes up while the picker is being made, before its exec.
    auto box = ModalScript().expect("QMessageBox").click("OK").arm();
    CertificatePickerDialog dialog(&signer);
    ASSERT_TRUE(test::waitFinished(box));
    EXPECT_EQ(box->title, "Грешка");
    EXPECT_TRUE(box->labels.contains("Не успяхме да изброим сертификати:\n<b>token</b> removed"))
        << box->labels.join(" | ").toStdString();
    QListWidget* list = listOf(dialog);
    EXPECT_EQ(list->count(), 0);  // no placeholder after an error

    // The signer recovers; toggling the box lists again.
    signer.listError.clear();
    signer.certificates = {certificate("AA11", "CN=A", "")};
    auto seen = ModalScript().expect(kPicker).tick("Показвай и изтекли").click("OK").arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedId(), "AA11");
    EXPECT_FALSE(seen->enabledButtons.contains("OK"));
    EXPECT_EQ(signer.listings, 2);
}

}  // namespace
}  // namespace velk::ui
