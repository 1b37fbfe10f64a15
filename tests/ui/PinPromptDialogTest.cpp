#include <string>

#include <gtest/gtest.h>

#include "platform/SecureWipe.h"
#include "ui/ModalDialogs.h"
#include "ui/PinPromptDialog.h"

namespace velk::ui {
namespace {

using test::ModalScript;

TEST(PinPromptDialogTest, TypedPinIsTakenAsUtf8AndTheEditEmptied) {
    PinPromptDialog dialog("CN=Иван", true);
    auto seen = ModalScript().expect("velk::ui::PinPromptDialog").type("12ä4").click("Продължи").arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(dialog.remember());
    std::string pin = dialog.takePin();
    EXPECT_EQ(pin,
              "12\xC3\xA4"
              "4");
    EXPECT_EQ(dialog.pin(), "");
    platform::secureWipe(pin);
    EXPECT_EQ(seen->title, "PIN за електронен подпис");
}

}  // namespace
}  // namespace velk::ui
