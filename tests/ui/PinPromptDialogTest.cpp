#include <QLabel>
#include <QLineEdit>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/SecureWipe.h"
#include "ui/ModalDialogs.h"
#include "ui/PinPromptDialog.h"

namespace velk::ui {
namespace {

using test::ModalScript;

constexpr const char* kPrompt = "velk::ui::PinPromptDialog";

TEST(PinPromptDialogTest, TypedPinIsTakenAsUtf8AndTheEditEmptied) {
    PinPromptDialog dialog("CN=Иван", true);
    auto seen = ModalScript().expect(kPrompt).type("12ä4").click("Продължи").arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(dialog.remember());
    std::string pin = dialog.takePin();
    EXPECT_EQ(pin,
              "12\xC3\xA4"
              "4");
    EXPECT_EQ(dialog.pin(), "");
    EXPECT_EQ(dialog.takePin(), "");
    platform::secureWipe(pin);

    EXPECT_EQ(seen->title, "PIN за електронен подпис");
    EXPECT_EQ(seen->buttons, (QStringList{"Продължи", "Отказ"})) << seen->buttons.join(",").toStdString();
    EXPECT_EQ(seen->enabledButtons, QStringList{"Отказ"});  // before typing
    EXPECT_EQ(seen->checkedBoxes, QStringList{"Запомни PIN (няма да пита отново)"});
    EXPECT_TRUE(seen->labels.contains("PIN:"));
}

TEST(PinPromptDialogTest, EmptyPinCannotBeAcceptedAndCancelRejects) {
    PinPromptDialog dialog("CN=Иван", false);
    auto seen = ModalScript()
                    .expect(kPrompt)
                    .click("Продължи")
                    .type("1")
                    .press(Qt::Key_Backspace)
                    .click("Продължи")
                    .click("Отказ")
                    .arm();
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(seen->problems, (QStringList{"button Продължи is disabled", "button Продължи is disabled"}));
}

TEST(PinPromptDialogTest, EnterAcceptsATypedPin) {
    PinPromptDialog dialog("CN=Иван", false);
    ModalScript()
        .expect(kPrompt)
        .type("0000")
        .tick("Запомни PIN (няма да пита отново)", false)
        .press(Qt::Key_Return)
        .arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_FALSE(dialog.remember());
    EXPECT_EQ(dialog.pin(), "0000");
}

TEST(PinPromptDialogTest, AtMostSixtyFourCharactersCanBeTyped) {
    PinPromptDialog dialog("CN=Иван", false);
    const QString typed = QString(64, QLatin1Char('7')) + QLatin1Char('8');
    ModalScript().expect(kPrompt).type(typed).click("Продължи").arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    std::string pin = dialog.takePin();
    EXPECT_EQ(pin, std::string(64, '7'));
    platform::secureWipe(pin);
}

struct LabelCase {
    QString label;
    bool hardware;
    QString shown;  // the message label's rich text
};

TEST(PinPromptDialogTest, TheLabelIsShownLiterallyWithTheHintForTheKindOfKey) {
    const QString card = "<p style='color:#555'>Въведете PIN за смарт карта / USB устройство.</p>";
    const QString file = "<p style='color:#555'>Въведете PIN за сертификата.</p>";
    const std::vector<LabelCase> cases = {
        {"CN=Иван Петров", true, "<p><b>CN=Иван Петров</b></p>" + card},
        {"CN=Иван Петров", false, "<p><b>CN=Иван Петров</b></p>" + file},
        {"A < B & C", true, "<p><b>A &lt; B &amp; C</b></p>" + card},
        {"<img src=x>\"'", false, "<p><b>&lt;img src=x&gt;&quot;'</b></p>" + file},
        {"100%2 %1", false, "<p><b>100%2 %1</b></p>" + file},
    };
    for (const LabelCase& c : cases) {
        PinPromptDialog dialog(c.label, c.hardware);
        auto* message = dialog.findChildren<QLabel*>().value(0);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->text(), c.shown) << c.label.toStdString();
        EXPECT_EQ(message->textFormat(), Qt::RichText);
    }
}

TEST(PinPromptDialogTest, HiddenRememberBoxIsNotOfferedAndAnswersNo) {
    PinPromptDialog dialog("CN=Иван", true);
    dialog.hideRemember();
    auto seen = ModalScript().expect(kPrompt).type("1234").click("Продължи").arm();
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(seen->checkBoxes.isEmpty());
    EXPECT_FALSE(dialog.remember());
}

TEST(PinPromptDialogTest, ThePinEditHidesWhatIsTypedAndHasTheFocus) {
    PinPromptDialog dialog("CN=Иван", true);
    auto* edit = dialog.findChild<QLineEdit*>("pinEdit");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(edit->maxLength(), 64);
    bool focused = false;
    ModalScript()
        .expect(kPrompt)
        .then([&](QWidget* d, test::ModalSeen&) { focused = d->focusWidget() == edit; })
        .click("Отказ")
        .arm();
    dialog.exec();
    EXPECT_TRUE(focused);
}

}  // namespace
}  // namespace velk::ui
