#include "ui/MainWindow.h"

#include <QtTest/qtestspontaneevent.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/FileSettings.h"
#include "common/AgentVersion.h"
#include "common/JsonUtils.h"
#include "engine/InMemorySettings.h"
#include "engine/TestOperations.h"
#include "engine/VelkEngine.h"
#include "infrastructure/signing/PinStore.h"
#include "platform/AutoStart.h"
#include "support/FileText.h"
#include "support/TempDir.h"
#include "ui/ModalDialogs.h"
#include "ui/ScriptedSigner.h"

namespace velk::test {
namespace {

using core::SenderProfile;
using core::VelkEngine;
using ui::MainWindow;

constexpr const char* kLater = "2099-01-01T00:00:00Z";
const QString kNew = QStringLiteral("+ Създай нов");
const QString kRemember = QStringLiteral("Запомни PIN (няма да пита отново)");

// ---------------------------------------------------------------------------
// The text rules alone

struct CommonNameCase {
    QString subject;
    QString name;
};

TEST(MainWindowText, CommonNameIsTheTextAfterCnUpToTheNextComma) {
    const std::vector<CommonNameCase> cases = {
        {"", ""},
        {"O=Фирма, C=BG", "O=Фирма, C=BG"},  // no CN: the whole subject
        {"CN=Иван Петров, O=Фирма, C=BG", "Иван Петров"},
        {"C=BG, CN=  Мария  ", "Мария"},  // up to the end, trimmed
        {"SERIALNUMBER=PNOBG-1, CN=Иван,O=X", "Иван"},
        {"cn=lower, O=X", "cn=lower, O=X"},  // "CN=" is case-sensitive
        {"CN=, O=X", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ui::commonNameOf(c.subject), c.name) << c.subject.toStdString();
    }
}

TEST(MainWindowText, LongCertificateNamesAreCutByCharacters) {
    const QString cyrillic48(48, QChar(0x0416));  // 96 bytes in UTF-8
    const QString cyrillic60(60, QChar(0x0416));
    QString emoji48;
    for (int i = 0; i < 48; ++i) {
        emoji48 += QString::fromUcs4(U"😀", 1);  // two UTF-16 units each
    }
    struct Case {
        QString name;
        QString shown;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {cyrillic48, cyrillic48},
        {cyrillic60, QString(47, QChar(0x0416)) + QChar(0x2026)},
        {QString(49, 'a'), QString(47, 'a') + QChar(0x2026)},
        {emoji48, emoji48},
        {emoji48 + "x", QString::fromUcs4(emoji48.toUcs4().constData(), 47) + QChar(0x2026)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ui::shortCertificateName(c.name), c.shown) << c.name.toStdString();
    }
}

TEST(MainWindowText, SenderEntriesMarkTheActiveSender) {
    SenderProfile named;
    named.id = "s-1";
    named.displayName = "Фирма";
    SenderProfile unnamed;
    unnamed.id = "s-2";
    EXPECT_EQ(ui::senderEntryText(named, true), "★ Фирма");
    EXPECT_EQ(ui::senderEntryText(named, false), "   Фирма");
    EXPECT_EQ(ui::senderEntryText(unnamed, false), "   s-2");
}

// ---------------------------------------------------------------------------
// The window over a real engine and a real settings store

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        auto store = std::make_unique<agent::FileSettings>(settingsPath());
        settings = store.get();
        engine = std::make_unique<VelkEngine>(std::move(store));
        signer.certificates = {certificate("CERT-a", "CN=Алфа Сертификат, O=Тест", kLater, true),
                               certificate("CERT-b", "CN=Бета, O=Тест", kLater, true)};
    }
    ~MainWindowTest() override {
        closeAllModals();
        window.reset();
    }

    std::string settingsPath() const { return home.dataHome() + "/VEZORodar/settings.json"; }

    MainWindow& open() {
        window = std::make_unique<MainWindow>(engine.get(), settings, &signer);
        return *window;
    }

    template <class W>
    W* child(const char* name) {
        W* widget = window->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QComboBox* senderCombo() { return child<QComboBox>("senderCombo"); }
    QLineEdit* nameEdit() { return child<QLineEdit>("displayNameEdit"); }
    QLabel* certificateLabel() { return child<QLabel>("certificateLabel"); }
    void press(const char* button) { child<QPushButton>(button)->click(); }

    QStringList senderEntries() {
        QStringList entries;
        for (int i = 0; i < senderCombo()->count(); ++i) {
            entries << senderCombo()->itemText(i);
        }
        return entries;
    }
    QString status() { return window->statusBar()->currentMessage(); }

    // Chooses a certificate in the picker (by row), then answers the PIN
    // prompt when a PIN is given.
    std::shared_ptr<const ModalSeen> pickCertificate(int row,
                                                     const std::optional<QString>& pin = std::nullopt,
                                                     bool remember = true) {
        auto picker =
            ModalScript().expect("velk::ui::CertificatePickerDialog").selectRow(row).click("OK").arm();
        std::shared_ptr<const ModalSeen> prompt;
        if (pin) {
            prompt = ModalScript()
                         .expect("velk::ui::PinPromptDialog")
                         .type(*pin)
                         .tick(kRemember, remember)
                         .click("Продължи")
                         .arm();
        }
        press("certificateButton");
        EXPECT_TRUE(picker->finished && picker->problems.isEmpty())
            << picker->problems.join("; ").toStdString();
        return prompt;
    }

    // The PIN the session presents in a run for the sender.
    std::string pinInRun(const std::string& senderId) {
        const auto result = engine->execute(kEchoOp, "{}", std::nullopt, {}, senderId);
        EXPECT_TRUE(result.success) << result.error;
        return core::json::parse(result.json).at("metadata").at("pin").get<std::string>();
    }

    std::string savedIdNamed(const std::string& name) {
        for (const SenderProfile& sender : settings->listSenders()) {
            if (sender.displayName == name) {
                return sender.id;
            }
        }
        return {};
    }

    IsolatedHome home;
    ScriptedSigner signer;
    core::ISettingsProvider* settings = nullptr;
    std::unique_ptr<VelkEngine> engine;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, WithoutSendersOnlyNewIsListedAndDeleteIsOff) {
    open();
    EXPECT_EQ(senderEntries(), QStringList{kNew});
    EXPECT_EQ(nameEdit()->text(), "");
    EXPECT_EQ(child<QLineEdit>("identifierEdit")->text(), "");
    EXPECT_EQ(child<QComboBox>("identifierTypeCombo")->currentText(), "-- избери --");
    EXPECT_EQ(certificateLabel()->text(), "(нищо избрано)");
    EXPECT_FALSE(child<QPushButton>("deleteButton")->isEnabled());
    EXPECT_EQ(status(), "Готов.");
    EXPECT_EQ(window->windowTitle(), "VELK Agent");
}

TEST_F(MainWindowTest, OpensOnTheActiveSenderWithItsValues) {
    settings->upsertSender(testSender("a"));
    settings->upsertSender(testSender("b"));
    settings->setActiveSender("b");
    open();
    EXPECT_EQ(senderEntries(), (QStringList{"   Подател a", "★ Подател b", kNew}));
    EXPECT_EQ(senderCombo()->currentIndex(), 1);
    EXPECT_EQ(nameEdit()->text(), "Подател b");
    auto* identifier = child<QLineEdit>("identifierEdit");
    EXPECT_EQ(identifier->text(), "EIK-b");
    EXPECT_EQ(identifier->echoMode(), QLineEdit::Password);
    EXPECT_EQ(child<QComboBox>("identifierTypeCombo")->currentText(), "ЕИК / Булстат на търговец");
    EXPECT_EQ(child<QPlainTextEdit>("apiKeyEdit")->toPlainText(), "KEY-b");
    EXPECT_TRUE(child<QPushButton>("deleteButton")->isEnabled());

    press("identifierEyeButton");
    EXPECT_EQ(identifier->echoMode(), QLineEdit::Normal);
    press("identifierEyeButton");
    EXPECT_EQ(identifier->echoMode(), QLineEdit::Password);

    senderCombo()->setCurrentIndex(2);  // "+ Създай нов": an empty form
    EXPECT_EQ(nameEdit()->text(), "");
    EXPECT_FALSE(child<QPushButton>("deleteButton")->isEnabled());
}

TEST_F(MainWindowTest, SavedValuesAreTrimmedAndTheTypeIsTaken) {
    SenderProfile stored = testSender("a");
    stored.signerEmail = "signer@example.bg";
    settings->upsertSender(stored);
    open();
    nameEdit()->setText("  Нова фирма  ");
    child<QLineEdit>("identifierEdit")->setText(" 8001010000 ");
    auto* type = child<QComboBox>("identifierTypeCombo");
    type->setCurrentIndex(type->findText("ЕГН на физическо лице"));
    child<QPlainTextEdit>("apiKeyEdit")->setPlainText("\n KEY-new \n");
    press("saveButton");

    const auto saved = settings->getSender("a");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->displayName, "Нова фирма");
    EXPECT_EQ(saved->identifier, "8001010000");
    EXPECT_EQ(saved->identifierType, core::IdentifierType::IND_EGN);
    EXPECT_EQ(saved->apiKey, "KEY-new");
    EXPECT_EQ(saved->certificateId, "CERT-a");
    EXPECT_EQ(saved->signerEmail, "signer@example.bg");  // not shown, kept
    EXPECT_EQ(status(), "Запазено: Нова фирма");
}

struct IncompleteCase {
    const char* name;
    QString displayName;
    QString identifier;
};

TEST_F(MainWindowTest, SavingWithoutNameAndIdentifierSavesNothing) {
    open();
    const std::vector<IncompleteCase> cases = {{"empty", "", ""}, {"blanks", "   ", " \t "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nameEdit()->setText(c.displayName);
        child<QLineEdit>("identifierEdit")->setText(c.identifier);
        auto box = ModalScript().expect("QMessageBox").click("OK").arm();
        press("saveButton");
        EXPECT_TRUE(box->found);
        EXPECT_EQ(box->title, "Непълни данни");
        EXPECT_TRUE(box->labels.contains("Моля, въведете поне име или идентификатор."));
        EXPECT_TRUE(settings->listSenders().empty());
        EXPECT_EQ(window->focusWidget(), nameEdit());
    }
}

TEST_F(MainWindowTest, SavingWithoutCertificateAsksFirst) {
    struct Case {
        const char* answer;
        bool saved;
    };
    for (const Case& c : {Case{"Yes", false}, Case{"No", true}}) {
        SCOPED_TRACE(c.answer);
        open();
        nameEdit()->setText("Фирма без КЕП");
        auto box = ModalScript().expect("QMessageBox").click(c.answer).arm();
        // Yes opens the certificate picker (cancelled here) instead of saving.
        std::shared_ptr<const ModalSeen> picker;
        if (!c.saved) {
            picker = ModalScript().expect("velk::ui::CertificatePickerDialog").click("Cancel").arm();
        }
        press("saveButton");
        EXPECT_EQ(box->title, "Липсва сертификат");
        EXPECT_EQ(box->defaultButton, "Yes");
        if (picker) {
            EXPECT_TRUE(picker->found);
        }
        EXPECT_EQ(settings->listSenders().size(), c.saved ? 1u : 0u);
        if (c.saved) {
            // The only sender becomes the active one.
            const std::string id = savedIdNamed("Фирма без КЕП");
            EXPECT_EQ(settings->activeSenderId(), id);
            EXPECT_EQ(settings->getSender(id)->certificateId, "");
            EXPECT_EQ(senderEntries(), (QStringList{"★ Фирма без КЕП", kNew}));
            EXPECT_EQ(senderCombo()->currentIndex(), 0);
            EXPECT_EQ(status(), "Запазено: Фирма без КЕП");
        }
    }
}

TEST_F(MainWindowTest, ASecondNewSenderIsSavedBesideTheActiveOneAndSelected) {
    settings->upsertSender(testSender("a"));
    open();
    senderCombo()->setCurrentIndex(1);  // "+ Създай нов"
    nameEdit()->setText("Втора");
    pickCertificate(1, QString("1111"), false);
    press("saveButton");
    const std::string id = savedIdNamed("Втора");
    ASSERT_EQ(id.size(), 14u);
    EXPECT_EQ(settings->activeSenderId(), "a");
    EXPECT_EQ(senderEntries(), (QStringList{"★ Подател a", "   Втора", kNew}));
    EXPECT_EQ(senderCombo()->currentData().toString().toStdString(), id);
    EXPECT_TRUE(child<QPushButton>("deleteButton")->isEnabled());
}

TEST_F(MainWindowTest, DeletingTheActiveSenderMakesTheFirstRemainingOneActive) {
    settings->upsertSender(testSender("a"));
    settings->upsertSender(testSender("b"));
    settings->upsertSender(testSender("c"));
    settings->setActiveSender("b");
    open();

    auto keep = ModalScript().expect("QMessageBox").click("No").arm();
    press("deleteButton");
    EXPECT_EQ(keep->title, "Изтриване на подател");
    EXPECT_TRUE(keep->labels.contains("Сигурни ли сте, че искате да изтриете \"Подател b\"?"));
    EXPECT_EQ(keep->defaultButton, "No");
    EXPECT_EQ(settings->listSenders().size(), 3u);

    auto remove = ModalScript().expect("QMessageBox").click("Yes").arm();
    press("deleteButton");
    EXPECT_TRUE(remove->found);
    EXPECT_FALSE(settings->getSender("b"));
    EXPECT_EQ(settings->activeSenderId(), "a");
    EXPECT_EQ(senderEntries(), (QStringList{"★ Подател a", "   Подател c", kNew}));
    EXPECT_EQ(senderCombo()->currentIndex(), 0);
    EXPECT_EQ(nameEdit()->text(), "Подател a");
    EXPECT_EQ(status(), "Изтрит подател: Подател b");
}

// ---------------------------------------------------------------------------
// Saving that does not reach the disk

TEST(MainWindowSaveFailure, AFailedSaveIsShownInsteadOfSaved) {
    struct Case {
        const char* name;
        bool writable;
        QString message;
    };
    for (const Case& c : {Case{"writable", true, "Запазено: Фирма"},
                          Case{"unwritable", false, "Неуспешен запис на настройките."}}) {
        SCOPED_TRACE(c.name);
        IsolatedHome home;
        // A folder that cannot be made: its parent is a file.
        const std::string blocker = home.dir().sub("blocker");
        std::ofstream(blocker) << "a file";
        const std::string path =
            c.writable ? home.dir().sub("data/settings.json") : blocker + "/settings.json";
        auto store = std::make_unique<agent::FileSettings>(path);
        core::ISettingsProvider* settings = store.get();
        VelkEngine engine(std::move(store));
        ScriptedSigner signer;
        signer.certificates = {certificate("CERT-a", "CN=Алфа", kLater)};
        MainWindow window(&engine, settings, &signer);

        window.findChild<QLineEdit*>("displayNameEdit")->setText("Фирма");
        auto picker = ModalScript().expect("velk::ui::CertificatePickerDialog").click("OK").arm();
        auto prompt = ModalScript().expect("velk::ui::PinPromptDialog").click("Отказ").arm();
        window.findChild<QPushButton*>("certificateButton")->click();
        window.findChild<QPushButton*>("saveButton")->click();

        EXPECT_EQ(window.statusBar()->currentMessage(), c.message);
        EXPECT_EQ(settings->lastSaveSucceeded(), c.writable);
        EXPECT_EQ(std::filesystem::exists(path), c.writable);
        // The store still holds the sender for this run.
        EXPECT_EQ(settings->listSenders().size(), 1u);
        closeAllModals();
    }
}

// ---------------------------------------------------------------------------
// Certificates and PINs

TEST_F(MainWindowTest, CertificateLabelShowsTheCommonNameCutToFortyEightCharacters) {
    std::string sixty;
    for (int i = 0; i < 60; ++i) {
        sixty += "Ж";
    }
    struct Case {
        const char* name;
        std::string certificateId;
        std::vector<signing::CertificateInfo> listed;
        std::string listError;
        QString text;
        QString toolTip;
        QString role;
    };
    const std::vector<Case> cases = {
        {"none", "", {}, "", "(нищо избрано)", "", "muted"},
        {"common_name",
         "CERT-x",
         {certificate("CERT-x", "CN=Иван Петров, O=X", kLater)},
         "",
         "Иван Петров",
         "Иван Петров",
         ""},
        {"no_cn",
         "CERT-x",
         {certificate("CERT-x", "O=Фирма, C=BG", kLater)},
         "",
         "O=Фирма, C=BG",
         "O=Фирма, C=BG",
         ""},
        {"sixty",
         "CERT-x",
         {certificate("CERT-x", "CN=" + sixty + ", O=X", kLater)},
         "",
         QString(47, QChar(0x0416)) + QChar(0x2026),
         QString::fromStdString(sixty),
         ""},
        {"not_listed", "CERT-x", {certificate("CERT-y", "CN=Друг", kLater)}, "", "CERT-x", "CERT-x", ""},
        {"listing_fails", "CERT-x", {}, "token removed", "CERT-x", "CERT-x", ""},
        {"markup",
         "CERT-x",
         {certificate("CERT-x", "CN=<b>Удебелен</b>", kLater)},
         "",
         "<b>Удебелен</b>",
         "",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SenderProfile sender = testSender("a");
        sender.certificateId = c.certificateId;
        settings->upsertSender(sender);
        signer.certificates = c.listed;
        signer.listError = c.listError;
        open();
        QLabel* label = certificateLabel();
        EXPECT_EQ(label->text(), c.text);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        if (!c.toolTip.isEmpty() || c.certificateId.empty()) {
            EXPECT_EQ(label->toolTip(), c.toolTip);
        } else {
            // A name that looks like markup is shown literally in the tip too.
            EXPECT_TRUE(label->toolTip().contains("&lt;b&gt;Удебелен&lt;/b&gt;"))
                << label->toolTip().toStdString();
        }
        EXPECT_EQ(label->property("role").toString(), c.role);
    }
}

TEST_F(MainWindowTest, TheLabelsNewRoleTakesEffectAtOnce) {
    SenderProfile without = testSender("a");
    without.certificateId.clear();
    settings->upsertSender(without);
    settings->upsertSender(testSender("b"));
    open();
    window->setStyleSheet("QLabel[role=\"muted\"] { color: rgb(1, 2, 3); }");
    const QColor muted(1, 2, 3);
    EXPECT_EQ(certificateLabel()->palette().color(QPalette::WindowText), muted);
    senderCombo()->setCurrentIndex(1);  // a sender with a certificate
    EXPECT_EQ(certificateLabel()->property("role").toString(), "");
    EXPECT_NE(certificateLabel()->palette().color(QPalette::WindowText), muted);
    senderCombo()->setCurrentIndex(0);
    EXPECT_EQ(certificateLabel()->palette().color(QPalette::WindowText), muted);
}

TEST_F(MainWindowTest, TypedPinGoesToTheEngineAndIsStoredOnlyWhenRemembered) {
    engine->initialise();
    for (const bool remember : {false, true}) {
        SCOPED_TRACE(remember ? "remembered" : "not remembered");
        settings->upsertSender(testSender("b"));
        settings->setActiveSender("b");
        signing::PinStore::remove("CERT-b");
        open();
        auto prompt = pickCertificate(1, QString("2468"), remember);
        EXPECT_TRUE(prompt->found);
        EXPECT_EQ(prompt->title, "PIN за електронен подпис");
        EXPECT_TRUE(prompt->checkedBoxes.contains(kRemember));  // ticked at first
        EXPECT_EQ(certificateLabel()->text(), "Бета");

        EXPECT_EQ(pinInRun("b"), "2468");
        const auto stored = signing::PinStore::get("CERT-b");
        EXPECT_EQ(stored.has_value(), remember);
        if (stored) {
            EXPECT_EQ(*stored, "2468");
        }
    }
}

TEST_F(MainWindowTest, RememberedPinAsksNothing) {
    engine->initialise();
    settings->upsertSender(testSender("b"));
    ASSERT_TRUE(signing::PinStore::store("CERT-b", "4321"));
    open();
    UnexpectedModals prompts("velk::ui::PinPromptDialog");
    pickCertificate(1);
    EXPECT_EQ(prompts.count(), 0);
    EXPECT_EQ(pinInRun("b"), "4321");
}

TEST_F(MainWindowTest, CancelledPinPromptHandsNothingOver) {
    engine->initialise();
    settings->upsertSender(testSender("b"));
    open();
    auto picker = ModalScript().expect("velk::ui::CertificatePickerDialog").selectRow(1).click("OK").arm();
    auto prompt = ModalScript().expect("velk::ui::PinPromptDialog").type("9999").click("Отказ").arm();
    press("certificateButton");
    EXPECT_TRUE(prompt->found);
    // The prompt was labelled with the certificate's subject.
    EXPECT_TRUE(prompt->labels.join(" ").contains("CN=Бета, O=Тест"));
    EXPECT_EQ(pinInRun("b"), "");
    EXPECT_FALSE(signing::PinStore::get("CERT-b"));
}

// A PIN typed for a sender not yet saved stays with its certificate: it never
// reaches the active sender's card, and serves the new sender once saved.
TEST_F(MainWindowTest, PinIsBoundToTheCertificateItWasTypedFor) {
    engine->initialise();
    settings->upsertSender(testSender("a"));  // active, on CERT-a
    open();
    senderCombo()->setCurrentIndex(1);  // "+ Създай нов"
    nameEdit()->setText("Нова");
    pickCertificate(1, QString("1357"), false);  // CERT-b

    EXPECT_EQ(pinInRun("a"), "");
    EXPECT_FALSE(signing::PinStore::get("CERT-b"));

    press("saveButton");
    const std::string id = savedIdNamed("Нова");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(settings->getSender(id)->certificateId, "CERT-b");
    EXPECT_EQ(pinInRun(id), "1357");
    EXPECT_EQ(pinInRun("a"), "");
}

// ---------------------------------------------------------------------------
// Showing, hiding and minimising

TEST_F(MainWindowTest, ClosingHidesAndShowingAgainListsSendersAddedMeanwhile) {
    settings->upsertSender(testSender("a"));
    open();
    window->show();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isHidden());

    settings->upsertSender(testSender("z"));  // e.g. through the local API
    nameEdit()->setText("неспасено");
    window->show();
    EXPECT_EQ(senderEntries(), (QStringList{"★ Подател a", "   Подател z", kNew}));
    EXPECT_EQ(nameEdit()->text(), "Подател a");
}

TEST_F(MainWindowTest, RestoringFromMinimisedKeepsUnsavedEdits) {
    settings->upsertSender(testSender("a"));
    open();
    window->show();
    nameEdit()->setText("неспасено");
    settings->upsertSender(testSender("z"));

    window->showMinimized();
    QApplication::processEvents();
    window->showNormal();
    QApplication::processEvents();
    // The window system's show event of a restore.
    QShowEvent restored;
    QSpontaneKeyEvent::setSpontaneous(&restored);
    static_cast<QObject*>(window.get())->event(&restored);

    EXPECT_EQ(nameEdit()->text(), "неспасено");
    EXPECT_EQ(senderEntries(), (QStringList{"★ Подател a", kNew}));
}

// ---------------------------------------------------------------------------
// Start with the desktop

TEST_F(MainWindowTest, AutoStartBoxShowsTheEntryWithoutWritingIt) {
    ASSERT_TRUE(platform::AutoStart::enable("/elsewhere/VezoRodarC", "--silent"));
    const std::string entry = platform::AutoStart::entryPath();
    const std::string before = test::readFileText(entry);
    open();
    EXPECT_TRUE(child<QCheckBox>("autoStartBox")->isChecked());
    EXPECT_EQ(status(), "Готов.");  // no handler ran
    EXPECT_EQ(test::readFileText(entry), before);
}

TEST_F(MainWindowTest, AutoStartBoxWritesAndRemovesTheEntry) {
    open();
    auto* box = child<QCheckBox>("autoStartBox");
    EXPECT_EQ(box->text(), "Стартирай при влизане в системата");
    EXPECT_FALSE(box->isChecked());
    box->click();
    EXPECT_TRUE(platform::AutoStart::isEnabled());
    EXPECT_EQ(status(), "Авто-старт включен");
    const std::string entry = test::readFileText(platform::AutoStart::entryPath());
    EXPECT_NE(entry.find(platform::AutoStart::execLine(QCoreApplication::applicationFilePath().toStdString(),
                                                       "--silent")),
              std::string::npos);
    box->click();
    EXPECT_FALSE(platform::AutoStart::isEnabled());
    EXPECT_EQ(status(), "Авто-старт изключен");
}

TEST_F(MainWindowTest, AutoStartFailureIsReportedAndTheBoxStays) {
    open();
    // No autostart folder can be made below a configuration "folder" that is a file.
    std::filesystem::remove_all(home.configHome());
    std::ofstream(home.configHome()) << "a file";
    auto* box = child<QCheckBox>("autoStartBox");
    box->click();
    EXPECT_EQ(status(), "Не успяхме да променим авто-старт");
    EXPECT_TRUE(box->isChecked());
}

// ---------------------------------------------------------------------------
// Uninstall and the update banner

TEST_F(MainWindowTest, UninstallAsksAndOnlyYesRequestsIt) {
    open();
    QSignalSpy requested(window.get(), &MainWindow::requestUninstall);
    struct Case {
        const char* answer;
        int emitted;
    };
    for (const Case& c : {Case{"No", 0}, Case{"Yes", 1}}) {
        SCOPED_TRACE(c.answer);
        auto box = ModalScript().expect("QMessageBox").click(c.answer).arm();
        press("uninstallLink");
        EXPECT_EQ(box->title, "Деинсталиране на ВЕЛК агент");
        EXPECT_EQ(box->defaultButton, "No");
        EXPECT_EQ(requested.count(), c.emitted);
    }
}

TEST_F(MainWindowTest, UpdateErrorBeforeAnyOfferLeavesTheBannerHidden) {
    open();
    window->show();
    auto* banner = child<QFrame>("updateBanner");
    EXPECT_FALSE(banner->isVisible());
    window->showUpdateError("network down");
    EXPECT_FALSE(banner->isVisible());
    EXPECT_EQ(child<QLabel>("updateBannerText")->text(), "Налична е нова версия.");
}

TEST_F(MainWindowTest, UpdateBannerOffersDownloadsAndRetries) {
    open();
    window->show();
    auto* banner = child<QFrame>("updateBanner");
    auto* text = child<QLabel>("updateBannerText");
    auto* button = child<QPushButton>("updateBannerButton");
    QSignalSpy install(window.get(), &MainWindow::requestInstallUpdate);
    const QString url = "https://cloud.example/vezorodar_9.9.9_amd64.deb";

    window->showUpdateAvailable("9.9.9", url);
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(text->text(), QString("Налична е нова версия 9.9.9. Текуща: %1.")
                                .arg(QString::fromStdString(core::versionString())));
    EXPECT_EQ(button->text(), "Обнови сега");

    button->click();
    ASSERT_EQ(install.count(), 1);
    EXPECT_EQ(install.at(0).at(0).toString(), url);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(text->text(), "Изтегляне на инсталатора…");

    window->showUpdateError("<b>Сървърът</b> отказа");
    EXPECT_EQ(text->text(), "<b>Сървърът</b> отказа");
    EXPECT_EQ(text->textFormat(), Qt::PlainText);  // shown as the text it is
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(button->text(), "Опитай отново");
    button->click();
    ASSERT_EQ(install.count(), 2);
    EXPECT_EQ(install.at(1).at(0).toString(), url);

    window->showUpdateAvailable("9.9.9", "");
    EXPECT_FALSE(banner->isVisible());
    button->setEnabled(true);
    button->click();  // nothing offered any more
    EXPECT_EQ(install.count(), 2);
}

}  // namespace
}  // namespace velk::test
