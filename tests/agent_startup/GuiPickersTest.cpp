#include <QApplication>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "server/GuiCall.h"
#include "ui/FilePicker.h"
#include "ui/SenderPicker.h"
#include "ui/UiConfirmer.h"

namespace velk::ui {
namespace {

constexpr int kGuardExitCode = 99;
constexpr int kGuardMs = 60'000;

// Runs the call on a worker thread, as the local API's request threads do,
// while the test's thread runs the event loop; returns the call's result.
template <class Result>
Result fromRequestThread(server::GuiThreadObject& target, std::function<Result()> work, Result cancelled) {
    Result result{};
    QTimer guard;  // fails the test instead of hanging it
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(kGuardExitCode); });
    guard.start(kGuardMs);
    std::thread request([&] {
        std::stop_source stop;
        result = server::callOnGuiThread<Result>(target, std::move(work), stop.get_token(), cancelled);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    const int loop = QApplication::exec();
    request.join();
    EXPECT_EQ(loop, 0);
    return result;
}

TEST(GuiPickersTest, FilePicksRunOnTheGuiThreadAndAnswerAsCancelled) {
    FilePicker picker;
    QThread* ranOn = nullptr;
    const std::string file = fromRequestThread<std::string>(
        picker,
        [&] {
            ranOn = QThread::currentThread();
            return picker.pickFile("/tmp", "");
        },
        "<gave up>");
    EXPECT_EQ(file, "");
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());

    const std::string folder = fromRequestThread<std::string>(
        picker, [&] { return picker.pickFolder("/tmp"); }, "<gave up>");
    EXPECT_EQ(folder, "");
}

TEST(GuiPickersTest, SenderPickerAnswersAsCancelledSoNothingRunsUnconfirmed) {
    SenderPicker picker;
    std::vector<core::SenderProfile> senders(2);
    senders[0].id = "s-000000000001";
    senders[1].id = "s-000000000002";
    server::SenderPickResult gaveUp;
    gaveUp.id = "<gave up>";
    const server::SenderPickResult choice = fromRequestThread<server::SenderPickResult>(
        picker,
        [&] { return picker.pickSender(senders, "s-000000000001", "https://app.example", "Справка"); },
        gaveUp);
    EXPECT_EQ(choice.id, "");
    EXPECT_FALSE(choice.remember);
    EXPECT_FALSE(choice.createNew);
}

TEST(GuiPickersTest, TheConfirmerDeclinesThroughItsSlot) {
    UiConfirmer confirmer;
    bool confirmed = true;
    ASSERT_TRUE(QMetaObject::invokeMethod(&confirmer, "confirmOperation", Qt::DirectConnection,
                                          Q_RETURN_ARG(bool, confirmed), Q_ARG(QString, "Справка"),
                                          Q_ARG(QString, "121212121"), Q_ARG(bool, true)));
    EXPECT_FALSE(confirmed);
}

TEST(GuiPickersTest, ATaskStillQueuedWhenThePickerGoesNeverRuns) {
    bool ran = false;
    auto picker = std::make_unique<FilePicker>();
    picker->post([&] { ran = true; });
    picker.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace velk::ui
