#include <QCheckBox>
#include <QDateTime>
#include <QListWidget>

#include <gtest/gtest.h>

#include "ui/CertificatePickerDialog.h"
#include "ui/ModalDialogs.h"
#include "ui/ScriptedSigner.h"

namespace velk::ui {
namespace {

using test::certificate;
using test::ModalScript;

TEST(CertificatePickerDialogTest, OkReturnsThePreselectedFirstCertificate) {
    test::ScriptedSigner signer;
    signer.certificates = {certificate("AA11", "CN=Иван Петров", ""), certificate("BB22", "CN=Мария", "")};
    CertificatePickerDialog dialog(&signer);
    auto seen = ModalScript().expect("velk::ui::CertificatePickerDialog").click("OK").arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedId(), "AA11");
    EXPECT_EQ(seen->title, "Избор на сертификат");
    EXPECT_TRUE(seen->problems.isEmpty()) << seen->problems.join("; ").toStdString();
}

}  // namespace
}  // namespace velk::ui
