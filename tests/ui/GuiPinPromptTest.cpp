#include <QApplication>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "platform/ProviderPinCache.h"
#include "platform/SecureWipe.h"
#include "ui/GuiLoop.h"
#include "ui/GuiPinPrompt.h"
#include "ui/ModalDialogs.h"
#include "ui/RequestThread.h"
#include "ui/ScriptedSigner.h"

namespace velk::ui {
namespace {

using platform::PinAnswer;
using platform::PinRequest;
using test::ModalScript;

constexpr const char* kPrompt = "velk::ui::PinPromptDialog";
const std::string kLongId = "0123456789ABCDEF0123456789ABCDEF01234567FFFF";

class GuiPinPromptTest : public ::testing::Test {
protected:
    GuiPinPromptTest() {
        signer_.certificates = {test::certificate("AB12", "CN=Иван Петров", ""),
                                test::certificate("CARD", "CN=Карта", "", true)};
    }

    PinAnswer askFromRequestThread(const std::string& id) {
        GuiPinPrompt prompt(&signer_, loop_);
        return test::fromRequestThread<PinAnswer>([&] { return prompt(PinRequest{id}); });
    }

    test::ScriptedSigner signer_;
    GuiLoop loop_;
};

TEST_F(GuiPinPromptTest, ARequestThreadGetsThePinTypedOnTheGuiThread) {
    auto seen = ModalScript().expect(kPrompt).type("1234").click("Продължи").arm();
    PinAnswer answer = askFromRequestThread("AB12");
    EXPECT_EQ(answer.status, platform::kStatusOk);
    EXPECT_EQ(answer.pin, "1234");
    platform::secureWipe(answer.pin);
    EXPECT_TRUE(seen->labels.contains(
        "<p><b>CN=Иван Петров</b></p><p style='color:#555'>Въведете PIN за сертификата.</p>"))
        << seen->labels.join(" | ").toStdString();
    // The store keeps a PIN only while the agent runs: no remember box.
    EXPECT_TRUE(seen->checkBoxes.isEmpty());
}

TEST_F(GuiPinPromptTest, TheLabelNamesTheCertificateOrTheStartOfItsId) {
    struct Case {
        const char* name;
        std::string id;
        bool signerFails;
        QString label;
    };
    const QString card = "<p style='color:#555'>Въведете PIN за смарт карта / USB устройство.</p>";
    const std::vector<Case> cases = {
        {"hardware", "CARD", false, "<p><b>CN=Карта</b></p>" + card},
        {"unknown id", kLongId, false,
         "<p><b>" + QString::fromStdString(kLongId.substr(0, 40)) + "</b></p>" + card},
        {"signer fails", "AB12", true, "<p><b>AB12</b></p>" + card},
    };
    for (const Case& c : cases) {
        signer_.listError = c.signerFails ? "store gone" : "";
        auto seen = ModalScript().expect(kPrompt).click("Отказ").arm();
        const PinAnswer answer = askFromRequestThread(c.id);
        EXPECT_EQ(answer.status, platform::kScardWCancelledByUser) << c.name;
        EXPECT_EQ(answer.pin, "") << c.name;
        EXPECT_TRUE(seen->labels.contains(c.label))
            << c.name << ": " << seen->labels.join(" | ").toStdString();
    }
}

TEST_F(GuiPinPromptTest, OnTheGuiThreadTheDialogRunsDirectly) {
    GuiPinPrompt prompt(&signer_, loop_);
    ModalScript().expect(kPrompt).type("9876").press(Qt::Key_Return).arm();
    PinAnswer answer = prompt(PinRequest{"AB12"});
    EXPECT_EQ(answer.status, platform::kStatusOk);
    EXPECT_EQ(answer.pin, "9876");
    platform::secureWipe(answer.pin);
}

TEST_F(GuiPinPromptTest, TheCertificateStoreAsksThroughTheInstalledPrompt) {
    platform::ProviderPinCache::setPrompt(GuiPinPrompt(&signer_, loop_));
    ModalScript().expect(kPrompt).type("4321").click("Продължи").arm();
    PinAnswer answer = test::fromRequestThread<PinAnswer>(
        [] { return platform::ProviderPinCache::prompt(PinRequest{"AB12"}); });
    platform::ProviderPinCache::setPrompt({});
    EXPECT_EQ(answer.status, platform::kStatusOk);
    EXPECT_EQ(answer.pin, "4321");
    platform::secureWipe(answer.pin);
}

TEST_F(GuiPinPromptTest, OnceTheLoopHasEndedEveryAskIsCancelledWithoutADialog) {
    loop_.markEnded();
    bool opened = false;
    QTimer::singleShot(0, [&] {
        opened = QApplication::activeModalWidget() != nullptr;
        test::closeAllModals();
    });
    GuiPinPrompt prompt(&signer_, loop_);
    EXPECT_EQ(prompt(PinRequest{"AB12"}).status, platform::kScardWCancelledByUser);
    EXPECT_EQ(askFromRequestThread("AB12").status, platform::kScardWCancelledByUser);
    QCoreApplication::processEvents();
    EXPECT_FALSE(opened);
    EXPECT_EQ(signer_.listings, 0);
}

TEST_F(GuiPinPromptTest, AnAskerThatGaveUpNeverSeesThePinTypedLater) {
    std::atomic<bool> returned{false};
    bool returnedWhileOpen = false;
    ModalScript()
        .expect(kPrompt)
        .then([&](QWidget*, test::ModalSeen&) {
            loop_.markEnded();
            returnedWhileOpen = QTest::qWaitFor([&] { return returned.load(); }, 30'000);
        })
        .type("1111")
        .click("Продължи")
        .arm();
    GuiPinPrompt prompt(&signer_, loop_);
    const PinAnswer answer = test::fromRequestThread<PinAnswer>([&] {
        PinAnswer result = prompt(PinRequest{"AB12"});
        returned = true;
        return result;
    });
    EXPECT_TRUE(returnedWhileOpen);
    EXPECT_EQ(answer.status, platform::kScardWCancelledByUser);
    EXPECT_EQ(answer.pin, "");
}

}  // namespace
}  // namespace velk::ui
