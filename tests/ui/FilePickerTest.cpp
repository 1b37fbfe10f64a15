#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stop_token>
#include <string>

#include <gtest/gtest.h>

#include "server/GuiCall.h"
#include "support/TempDir.h"
#include "ui/FilePicker.h"
#include "ui/GuiLoop.h"
#include "ui/ModalDialogs.h"
#include "ui/RequestThread.h"

namespace velk::ui {
namespace {

using test::ModalScript;

// Answers the file dialog as a user who picks path would.
ModalScript choose(const QString& path, QStringList* filters = nullptr,
                   QFileDialog::Options* options = nullptr) {
    ModalScript script;
    script.expect("QFileDialog").then([path, filters, options](QWidget* dialog, test::ModalSeen& seen) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        if (filters != nullptr) {
            *filters = files->nameFilters();
        }
        if (options != nullptr) {
            *options = files->options();
        }
        if (path.isEmpty()) {
            files->reject();
            return;
        }
        // As typed into the name field: selectFile leaves a focused field alone.
        auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name == nullptr) {
            seen.problems << QStringLiteral("no file name field");
            files->reject();
            return;
        }
        name->setText(path);
        static_cast<QDialog*>(files)->accept();  // as the dialog's own Open button does
    });
    return script;
}

TEST(FilePickerTest, PicksAFileWithTheGivenOrTheDefaultFilter) {
    test::TempDir dir;
    const std::string file = dir.sub("декларация.xml");
    std::ofstream(file) << "<x/>";
    GuiLoop loop;
    FilePicker picker(loop);

    QStringList filters;
    auto seen = choose(QString::fromStdString(file), &filters).arm();
    EXPECT_EQ(picker.pickFile(dir.str(), std::string()), file);
    EXPECT_EQ(filters, QStringList{"All files (*.*)"});
    EXPECT_EQ(seen->title, "Избери файл");

    choose(QString::fromStdString(file), &filters).arm();
    EXPECT_EQ(picker.pickFile(dir.str(), std::string("XML (*.xml)")), file);
    EXPECT_EQ(filters, QStringList{"XML (*.xml)"});

    choose(QString()).arm();
    EXPECT_EQ(picker.pickFile(dir.str(), std::string()), "");
}

TEST(FilePickerTest, PicksAFolderShowingFoldersOnly) {
    test::TempDir dir;
    GuiLoop loop;
    FilePicker picker(loop);
    const std::string folder = dir.sub("папка");
    std::filesystem::create_directory(folder);
    QFileDialog::Options options;
    auto seen = choose(QString::fromStdString(folder), nullptr, &options).arm();
    EXPECT_EQ(picker.pickFolder(dir.str()), folder);
    EXPECT_EQ(seen->title, "Избери папка");
    EXPECT_TRUE(options.testFlag(QFileDialog::ShowDirsOnly));
    EXPECT_TRUE(options.testFlag(QFileDialog::DontResolveSymlinks));

    choose(QString()).arm();
    EXPECT_EQ(picker.pickFolder(dir.str()), "");
}

TEST(FilePickerTest, RequestThreadsReachTheDialogUntilTheLoopEnds) {
    test::TempDir dir;
    GuiLoop loop;
    FilePicker picker(loop);
    const std::string file = dir.sub("a.txt");
    std::ofstream(file) << "a";
    choose(QString::fromStdString(file)).arm();
    const std::string picked = test::fromRequestThread<std::string>([&] {
        std::stop_source stop;
        return server::callOnGuiThread<std::string>(
            picker, [&] { return picker.pickFile(dir.str(), std::string()); }, stop.get_token(),
            std::string("<gave up>"), std::chrono::minutes(5));
    });
    EXPECT_EQ(picked, file);

    loop.markEnded();
    const std::string after =
        test::fromRequestThread<std::string>([&] { return picker.pickFolder(dir.str()); });
    EXPECT_EQ(after, "");
}

TEST(FilePickerTest, ADialogTheServerStopsWaitingForIsClosed) {
    test::TempDir dir;
    GuiLoop loop;
    FilePicker picker(loop);
    const std::vector<std::pair<const char*, std::function<std::string()>>> dialogs = {
        {"file", [&] { return picker.pickFile(dir.str(), std::string()); }},
        {"folder", [&] { return picker.pickFolder(dir.str()); }},
    };
    for (const auto& [name, pick] : dialogs) {
        // The time limit passes once the dialog is up; the script fails
        // unless the dialog then closes.
        std::stop_source timeUp;
        auto seen = ModalScript()
                        .expect("QFileDialog")
                        .then([&timeUp](QWidget*, test::ModalSeen&) { timeUp.request_stop(); })
                        .arm();
        const std::string picked = test::fromRequestThread<std::string>([&picker, &pick = pick, &timeUp] {
            std::stop_source stop;
            return server::callOnGuiThread<std::string>(picker, pick, stop.get_token(),
                                                        std::string("<gave up>"), std::chrono::minutes(5),
                                                        timeUp.get_token());
        });
        EXPECT_TRUE(test::waitFinished(seen)) << name;
        EXPECT_TRUE(seen->found) << name;
        EXPECT_TRUE(seen->problems.isEmpty()) << name << ": " << seen->problems.join("; ").toStdString();
        EXPECT_EQ(picked, "<gave up>") << name;
        EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 30'000))
            << name << ": the dialog is still open";
    }
}

}  // namespace
}  // namespace velk::ui
