#include <QDialog>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "ui/ModalDialogs.h"

namespace velk::test {
namespace {

// A dialog closed by something queued before it opened is gone within the
// first turn of its own loop; the script still sees it, as it was.
TEST(ModalScriptTest, SeesADialogClosedInTheTurnItOpened) {
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Кратък"));
    auto seen = ModalScript().expectTitle(QStringLiteral("Кратък")).arm();
    // Once the script has looked for a dialog already up, the dialog opens.
    bool armed = false;
    QTimer::singleShot(0, [&armed] { armed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&armed] { return armed; }));
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(waitFinished(seen));
    EXPECT_TRUE(seen->found);
    EXPECT_EQ(seen->className, "QDialog");
    EXPECT_EQ(seen->title, "Кратък");
}

// Scripts armed for dialogs alike take one dialog each, in the order armed.
TEST(ModalScriptTest, EachDialogGoesToOneScript) {
    QPointer<QWidget> firstSaw;
    QPointer<QWidget> secondSaw;
    auto first = ModalScript()
                     .expect("QDialog")
                     .then([&](QWidget* dialog, ModalSeen&) { firstSaw = dialog; })
                     .then([](QWidget* dialog, ModalSeen&) { static_cast<QDialog*>(dialog)->accept(); })
                     .arm();
    auto second = ModalScript()
                      .expect("QDialog")
                      .then([&](QWidget* dialog, ModalSeen&) { secondSaw = dialog; })
                      .then([](QWidget* dialog, ModalSeen&) { static_cast<QDialog*>(dialog)->reject(); })
                      .arm();
    QDialog one;
    QDialog two;
    EXPECT_EQ(one.exec(), QDialog::Accepted);
    EXPECT_EQ(two.exec(), QDialog::Rejected);
    EXPECT_TRUE(waitFinished(first));
    EXPECT_TRUE(waitFinished(second));
    EXPECT_EQ(firstSaw, &one);
    EXPECT_EQ(secondSaw, &two);
}

}  // namespace
}  // namespace velk::test
