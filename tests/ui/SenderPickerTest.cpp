#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <stop_token>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "server/GuiCall.h"
#include "ui/ElidedLabel.h"
#include "ui/GuiLoop.h"
#include "ui/ModalDialogs.h"
#include "ui/RequestThread.h"
#include "ui/SenderPicker.h"

namespace velk::ui {
namespace {

using server::SenderPickResult;
using test::ModalScript;

constexpr const char* kTitle = "VELK Agent — Избор на подател";
// Longer than any test waits for a dialog.
constexpr std::chrono::minutes kAmpleTimeLimit{5};

std::vector<core::SenderProfile> threeSenders() {
    std::vector<core::SenderProfile> senders(3);
    senders[0].id = "s-000000000001";
    senders[0].displayName = "Фирма Едно ООД";
    senders[1].id = "s-000000000002";
    senders[1].displayName = "Фирма Две ЕООД";
    senders[2].id = "s-000000000003";  // no name: shown by its id
    senders[2].apiKey = "secret";
    return senders;
}

ModalScript senderDialog() {
    ModalScript script;
    script.expectTitle(kTitle);
    return script;
}

// --- who asks ---------------------------------------------------------------

TEST(RequesterTextTest, TheRequesterIsOneLineNamingTheOrigin) {
    const std::vector<std::pair<std::string, QString>> cases = {
        {"https://app.example.bg", "https://app.example.bg"},
        {"http://localhost:3000", "http://localhost:3000"},
        {"https://app.example.bg/filings/new?x=1#top", "https://app.example.bg"},  // a Referer
        {"https://portal.nra.bg@evil.example/nap", "https://evil.example"},
        {"", "неизвестен"},
        {"  \t ", "неизвестен"},
        {"null", "null"},
        {"first\nsecond\r\nthird", "first second third"},
        {"https://a.example\xE2\x80\xAEgb.pan", "https://a.example gb.pan"},  // right-to-left override
        {"https://a.example\xE2\x80\xA8x", "https://a.example x"},            // line separator
        {"\xFF\xFE", "\xEF\xBF\xBD\xEF\xBF\xBD"},                             // broken UTF-8
        {"file:///etc/passwd", "file:///etc/passwd"},
    };
    for (const auto& [requester, shown] : cases) {
        EXPECT_EQ(requesterDisplayText(requester), shown) << requester;
    }
    EXPECT_LE(requesterDisplayText(std::string(100'000, 'a')).size(), 2048);
}

TEST(RequesterTextTest, TheFilePathIsOneLineKeepingItsStartAndEnd) {
    const std::vector<std::pair<std::string, QString>> cases = {
        {"/home/u/Документи/DEKLAR.TXT", "/home/u/Документи/DEKLAR.TXT"},
        {"/home/u/a  b/<b>x</b>.xml", "/home/u/a  b/<b>x</b>.xml"},   // kept as typed
        {"/tmp/invoice\xE2\x80\xAEgpj.exe", "/tmp/invoice gpj.exe"},  // right-to-left override
        {"/tmp/a\tb\x1B[2Jc", "/tmp/a b [2Jc"},                       // controls
        {"/tmp/\xFF.txt", "/tmp/\xEF\xBF\xBD.txt"},                   // broken UTF-8
    };
    for (const auto& [path, shown] : cases) {
        EXPECT_EQ(filePathDisplayText(path), shown) << path;
    }
    // A path longer than any real one keeps its start and its file name.
    const std::string huge = "/srv/" + std::string(100'000, 'a') + "/DEKLAR.TXT";
    const QString text = filePathDisplayText(huge);
    EXPECT_LE(text.size(), 4096);
    EXPECT_TRUE(text.startsWith("/srv/aaa"));
    EXPECT_TRUE(text.endsWith("aaa/DEKLAR.TXT"));
    EXPECT_TRUE(text.contains(QChar(0x2026)));
}

// --- the dialog -------------------------------------------------------------

TEST(SenderPickerTest, TheDialogShowsTheRunTheRequesterAndTheSenders) {
    GuiLoop loop;
    SenderPicker picker(loop);
    auto seen = senderDialog().click("Избери").arm();
    const SenderPickResult pick = picker.pickSender(threeSenders(), "s-000000000002",
                                                    "https://app.example.bg/x", "Справка за задължения", "");
    EXPECT_EQ(pick.id, "s-000000000002");
    EXPECT_FALSE(pick.remember);
    EXPECT_FALSE(pick.createNew);

    EXPECT_EQ(seen->labels, (QStringList{"Избор на подател", "Операция: Справка за задължения",
                                         "Заявител: https://app.example.bg", "Изберете подател:"}))
        << seen->labels.join(" | ").toStdString();
    EXPECT_EQ(seen->listItems, (QStringList{"Фирма Едно ООД", "Фирма Две ЕООД", "s-000000000003"}));
    EXPECT_EQ(seen->checkBoxes, QStringList{"Запомни като активен подател"});
    EXPECT_TRUE(seen->checkedBoxes.isEmpty());
    EXPECT_EQ(seen->defaultButton, "Отказ");
    EXPECT_TRUE(seen->enabledButtons.contains("Избери"));
    EXPECT_EQ(seen->buttons.size(), 3);
}

TEST(SenderPickerTest, WithoutAnOperationNameThereIsNoOperationLine) {
    GuiLoop loop;
    SenderPicker picker(loop);
    auto seen = senderDialog().click("Отказ").arm();
    picker.pickSender(threeSenders(), "", "", "", "");
    EXPECT_EQ(seen->labels, (QStringList{"Избор на подател", "Заявител: неизвестен", "Изберете подател:"}));
}

TEST(SenderPickerTest, TheActiveSenderIsPreselectedElseTheFirst) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"s-000000000003", "s-000000000003"}, {"s-000000000001", "s-000000000001"}, {"", "s-000000000001"},
        {"s-00000000000X", "s-000000000001"}, {"S-000000000002", "s-000000000001"},  // exact match only
    };
    GuiLoop loop;
    SenderPicker picker(loop);
    for (const auto& [active, chosen] : cases) {
        senderDialog().click("Избери").arm();
        EXPECT_EQ(picker.pickSender(threeSenders(), active, "", "Справка", "").id, chosen) << active;
    }
}

TEST(SenderPickerTest, EachButtonAndTheWindowGiveTheirAnswer) {
    struct Case {
        const char* name;
        ModalScript script;
        SenderPickResult expected;
    };
    std::vector<Case> cases;
    cases.push_back({"new sender, with one selected",
                     senderDialog().selectRow(1).tick("Запомни като активен подател").click("Нов подател"),
                     {"", false, true}});
    cases.push_back({"cancel", senderDialog().selectRow(1).click("Отказ"), {}});
    cases.push_back({"window closed", senderDialog().closeWindow(), {}});
    cases.push_back({"escape", senderDialog().press(Qt::Key_Escape), {}});
    cases.push_back({"choose with remember",
                     senderDialog().selectRow(2).tick("Запомни като активен подател").click("Избери"),
                     {"s-000000000003", true, false}});
    cases.push_back({"double click with remember",
                     senderDialog().tick("Запомни като активен подател").doubleClickRow(1),
                     {"s-000000000002", true, false}});
    cases.push_back(
        {"double click without", senderDialog().doubleClickRow(2), {"s-000000000003", false, false}});

    GuiLoop loop;
    SenderPicker picker(loop);
    for (Case& c : cases) {
        auto seen = c.script.arm();
        const SenderPickResult pick = picker.pickSender(threeSenders(), "s-000000000001", "", "Справка", "");
        EXPECT_EQ(pick.id, c.expected.id) << c.name;
        EXPECT_EQ(pick.remember, c.expected.remember) << c.name;
        EXPECT_EQ(pick.createNew, c.expected.createNew) << c.name;
        EXPECT_TRUE(seen->problems.isEmpty()) << c.name << ": " << seen->problems.join("; ").toStdString();
    }
}

TEST(SenderPickerTest, EnterDeclinesWhereverTheFocusStarts) {
    GuiLoop loop;
    SenderPicker picker(loop);
    // As opened, then with the focus moved onto each of the other buttons.
    std::vector<std::pair<const char*, ModalScript>> cases;
    cases.push_back({"as opened", senderDialog().press(Qt::Key_Return)});
    cases.push_back({"enter key on the keypad", senderDialog().press(Qt::Key_Enter)});
    cases.push_back({"on Избери", senderDialog().pressOn("Избери", Qt::Key_Return)});
    cases.push_back({"on Нов подател", senderDialog().pressOn("Нов подател", Qt::Key_Return)});
    cases.push_back({"on the box", senderDialog()
                                       .then([](QWidget* d, test::ModalSeen&) {
                                           for (QObject* child : d->children()) {
                                               if (child->inherits("QCheckBox")) {
                                                   static_cast<QWidget*>(child)->setFocus();
                                               }
                                           }
                                       })
                                       .press(Qt::Key_Return)});
    for (auto& [name, script] : cases) {
        auto seen = script.arm();
        const SenderPickResult pick = picker.pickSender(threeSenders(), "s-000000000001", "", "Справка", "");
        EXPECT_EQ(pick.id, "") << name;
        EXPECT_FALSE(pick.createNew) << name;
        EXPECT_TRUE(seen->problems.isEmpty()) << name << ": " << seen->problems.join("; ").toStdString();
    }
}

TEST(SenderPickerTest, TheRequesterLineIsPlainOneLineAndElided) {
    GuiLoop loop;
    SenderPicker picker(loop);
    const std::string longOrigin = "https://" + std::string(300, 'a') + ".evil.example";
    bool plain = false;
    bool elided = false;
    QString full;
    senderDialog()
        .then([&](QWidget* d, test::ModalSeen&) {
            auto* line = d->findChild<ElidedLabel*>("requester");
            if (line == nullptr) {
                return;
            }
            plain = line->textFormat() == Qt::PlainText && !line->wordWrap();
            full = line->fullText();
            elided = line->text().contains(QChar(0x2026)) && line->text().endsWith(".evil.example") &&
                     line->width() <= d->width();
        })
        .click("Отказ")
        .arm();
    picker.pickSender(threeSenders(), "", longOrigin, "<b>Справка</b>", "");
    EXPECT_TRUE(plain);
    EXPECT_TRUE(elided);
    EXPECT_EQ(full.toStdString(), "Заявител: " + longOrigin);

    auto seen = senderDialog().click("Отказ").arm();
    picker.pickSender(threeSenders(), "", "<i>x</i>", "<b>Справка</b>", "");
    EXPECT_TRUE(seen->labels.contains("Операция: <b>Справка</b>"));
    EXPECT_TRUE(seen->labels.contains("Заявител: <i>x</i>"));
}

TEST(SenderPickerTest, TheFileARunSendsIsShownOnALineOfItsOwn) {
    GuiLoop loop;
    SenderPicker picker(loop);
    auto seen = senderDialog().click("Отказ").arm();
    picker.pickSender(threeSenders(), "", "https://app.example.bg", "Подаване", "/home/u/<b>DEKLAR</b>.TXT");
    EXPECT_EQ(seen->labels,
              (QStringList{"Избор на подател", "Операция: Подаване", "Заявител: https://app.example.bg",
                           "Файл: /home/u/<b>DEKLAR</b>.TXT", "Изберете подател:"}))
        << seen->labels.join(" | ").toStdString();

    // A long path loses its middle, never the file's name.
    const std::string longPath = "/home/u/" + std::string(400, 'd') + "/DEKLAR.TXT";
    bool plain = false;
    QString shown;
    QString full;
    senderDialog()
        .then([&](QWidget* d, test::ModalSeen&) {
            auto* line = d->findChild<ElidedLabel*>("filePath");
            if (line == nullptr) {
                return;
            }
            plain = line->textFormat() == Qt::PlainText && !line->wordWrap() && line->width() <= d->width();
            shown = line->text();
            full = line->fullText();
        })
        .click("Отказ")
        .arm();
    picker.pickSender(threeSenders(), "", "https://app.example.bg", "Подаване", longPath);
    EXPECT_TRUE(plain);
    EXPECT_EQ(full.toStdString(), "Файл: " + longPath);
    EXPECT_TRUE(shown.startsWith("Файл: /home/u/ddd")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("ddd/DEKLAR.TXT")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
}

TEST(SenderPickerTest, NoSendersAnswersAtOnceWithoutADialog) {
    GuiLoop loop;
    SenderPicker picker(loop);
    bool opened = false;
    QTimer::singleShot(0, [&] {
        opened = QApplication::activeModalWidget() != nullptr;
        test::closeAllModals();
    });
    const SenderPickResult pick = picker.pickSender({}, "s-1", "https://app.example", "Справка", "");
    QCoreApplication::processEvents();
    EXPECT_FALSE(opened);
    EXPECT_EQ(pick.id, "");
    EXPECT_FALSE(pick.remember);
    EXPECT_FALSE(pick.createNew);
}

// --- reached from request threads -------------------------------------------

TEST(SenderPickerTest, ARequestThreadGetsTheUsersChoiceThroughTheServersCall) {
    GuiLoop loop;
    SenderPicker picker(loop);
    SenderPickResult gaveUp;
    gaveUp.id = "<gave up>";
    const std::vector<core::SenderProfile> senders = threeSenders();
    QThread* ranOn = nullptr;
    senderDialog().selectRow(1).click("Избери").arm();
    const SenderPickResult pick = test::fromRequestThread<SenderPickResult>([&] {
        std::stop_source stop;
        return server::callOnGuiThread<SenderPickResult>(
            picker,
            [&] {
                ranOn = QThread::currentThread();
                return picker.pickSender(senders, "", "https://app.example", "Справка", "");
            },
            stop.get_token(), gaveUp, kAmpleTimeLimit);
    });
    EXPECT_EQ(pick.id, "s-000000000002");
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());

    // Called straight from a request thread, the picker waits for the GUI thread itself.
    senderDialog().click("Нов подател").arm();
    const SenderPickResult direct = test::fromRequestThread<SenderPickResult>(
        [&] { return picker.pickSender(senders, "", "https://app.example", "Справка", ""); });
    EXPECT_TRUE(direct.createNew);
}

TEST(SenderPickerTest, OnceTheLoopHasEndedNothingIsPostedOrShown) {
    GuiLoop loop;
    SenderPicker picker(loop);
    loop.markEnded();

    bool ran = false;
    picker.post([&] { ran = true; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);

    bool opened = false;
    QTimer::singleShot(0, [&] {
        opened = QApplication::activeModalWidget() != nullptr;
        test::closeAllModals();
    });
    EXPECT_EQ(picker.pickSender(threeSenders(), "", "", "Справка", "").id, "");
    const SenderPickResult fromThread = test::fromRequestThread<SenderPickResult>(
        [&] { return picker.pickSender(threeSenders(), "", "", "Справка", ""); });
    EXPECT_EQ(fromThread.id, "");
    QCoreApplication::processEvents();
    EXPECT_FALSE(opened);
}

TEST(SenderPickerTest, AWaitingRequestGivesUpWhenTheLoopEndsUnderAnOpenDialog) {
    GuiLoop loop;
    SenderPicker picker(loop);
    std::atomic<bool> returned{false};
    bool returnedWhileOpen = false;
    senderDialog()
        .then([&](QWidget*, test::ModalSeen&) {
            loop.markEnded();
            returnedWhileOpen = QTest::qWaitFor([&] { return returned.load(); }, 30'000);
        })
        .click("Избери")
        .arm();
    const SenderPickResult pick = test::fromRequestThread<SenderPickResult>([&] {
        SenderPickResult result = picker.pickSender(threeSenders(), "", "", "Справка", "");
        returned = true;
        return result;
    });
    EXPECT_TRUE(returnedWhileOpen);
    EXPECT_EQ(pick.id, "");  // the late choice reaches nobody
}

TEST(SenderPickerTest, AStoppingServerStopsWaitingForAnOpenDialog) {
    GuiLoop loop;
    SenderPicker picker(loop);
    std::stop_source stop;
    std::atomic<bool> returned{false};
    bool returnedWhileOpen = false;
    senderDialog()
        .then([&](QWidget*, test::ModalSeen&) {
            stop.request_stop();
            returnedWhileOpen = QTest::qWaitFor([&] { return returned.load(); }, 30'000);
        })
        .click("Избери")
        .arm();
    SenderPickResult gaveUp;
    gaveUp.id = "<gave up>";
    const std::vector<core::SenderProfile> senders = threeSenders();
    const SenderPickResult pick = test::fromRequestThread<SenderPickResult>([&] {
        SenderPickResult result = server::callOnGuiThread<SenderPickResult>(
            picker, [&] { return picker.pickSender(senders, "", "", "Справка", ""); }, stop.get_token(),
            gaveUp, kAmpleTimeLimit);
        returned = true;
        return result;
    });
    EXPECT_TRUE(returnedWhileOpen);
    EXPECT_EQ(pick.id, "<gave up>");
}

TEST(SenderPickerTest, ADialogTheServerStopsWaitingForIsClosedAsCancelled) {
    GuiLoop loop;
    SenderPicker picker(loop);
    SenderPickResult gaveUp;
    gaveUp.id = "<gave up>";
    const std::vector<core::SenderProfile> senders = threeSenders();
    // The time limit passes once the dialog is up; the script fails unless
    // the dialog then closes.
    std::stop_source timeUp;
    auto seen = senderDialog().then([&](QWidget*, test::ModalSeen&) { timeUp.request_stop(); }).arm();
    const SenderPickResult pick = test::fromRequestThread<SenderPickResult>([&] {
        std::stop_source stop;
        return server::callOnGuiThread<SenderPickResult>(
            picker, [&] { return picker.pickSender(senders, "", "", "Справка", ""); }, stop.get_token(),
            gaveUp, kAmpleTimeLimit, timeUp.get_token());
    });
    EXPECT_TRUE(test::waitFinished(seen));
    EXPECT_TRUE(seen->found);
    EXPECT_TRUE(seen->problems.isEmpty()) << seen->problems.join("; ").toStdString();
    EXPECT_EQ(pick.id, "<gave up>");
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 30'000))
        << "the dialog is still open";
}

TEST(SenderPickerTest, ATaskStillQueuedWhenThePickerGoesNeverRuns) {
    GuiLoop loop;
    bool ran = false;
    auto picker = std::make_unique<SenderPicker>(loop);
    picker->post([&] { ran = true; });
    picker.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace velk::ui
