#include <QCoreApplication>

#include <vector>

#include <gtest/gtest.h>

#include "ui/GuiLoop.h"
#include "ui/ModalDialogs.h"
#include "ui/RequestThread.h"
#include "ui/UiConfirmer.h"

namespace velk::ui {
namespace {

using test::ModalScript;

ModalScript confirmation() {
    ModalScript script;
    script.expectTitle("VELK Agent — Потвърждение");
    return script;
}

TEST(UiConfirmerTest, TheDialogNamesTheRunAndYesConfirms) {
    GuiLoop loop;
    UiConfirmer confirmer(loop);
    auto seen = confirmation().click("Да").arm();
    EXPECT_TRUE(confirmer.confirmOperation("Декларация обр. 1", "121212121", true));
    EXPECT_EQ(seen->labels, (QStringList{"⚠  ПОДАВАНЕ към НАП", "Изпълнение:", "Декларация обр. 1",
                                         "Булстат на задълженото лице:", "121212121"}))
        << seen->labels.join(" | ").toStdString();
    EXPECT_EQ(seen->defaultButton, "Не");

    auto inquiry = confirmation().click("Не").arm();
    EXPECT_FALSE(confirmer.confirmOperation("<b>Справка</b>", "", false));
    // No eik lines without an eik; the name is shown as typed.
    EXPECT_EQ(inquiry->labels, (QStringList{"ℹ  Извличане на данни", "Изпълнение:", "<b>Справка</b>"}));
}

TEST(UiConfirmerTest, EnterEscapeAndClosingDecline) {
    std::vector<std::pair<const char*, ModalScript>> cases;
    cases.push_back({"enter as opened", confirmation().press(Qt::Key_Return)});
    cases.push_back({"enter on Да", confirmation().pressOn("Да", Qt::Key_Return)});
    cases.push_back({"escape", confirmation().press(Qt::Key_Escape)});
    cases.push_back({"window closed", confirmation().closeWindow()});
    GuiLoop loop;
    UiConfirmer confirmer(loop);
    for (auto& [name, script] : cases) {
        auto seen = script.arm();
        EXPECT_FALSE(confirmer.confirmOperation("Справка", "121212121", true)) << name;
        EXPECT_TRUE(seen->problems.isEmpty()) << name << ": " << seen->problems.join("; ").toStdString();
    }
}

TEST(UiConfirmerTest, TheSlotIsReachableByNameAndFromARequestThread) {
    GuiLoop loop;
    UiConfirmer confirmer(loop);
    confirmation().click("Да").arm();
    bool confirmed = false;
    ASSERT_TRUE(QMetaObject::invokeMethod(&confirmer, "confirmOperation", Qt::DirectConnection,
                                          Q_RETURN_ARG(bool, confirmed), Q_ARG(QString, "Справка"),
                                          Q_ARG(QString, "121212121"), Q_ARG(bool, true)));
    EXPECT_TRUE(confirmed);

    confirmation().click("Да").arm();
    EXPECT_TRUE(
        test::fromRequestThread<bool>([&] { return confirmer.confirmOperation("Справка", "", false); }));

    loop.markEnded();
    EXPECT_FALSE(
        test::fromRequestThread<bool>([&] { return confirmer.confirmOperation("Справка", "", false); }));
    EXPECT_FALSE(confirmer.confirmOperation("Справка", "", false));
}

}  // namespace
}  // namespace velk::ui
