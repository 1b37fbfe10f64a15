#include "agent/UpdateInstaller.h"

#include <QDesktopServices>
#include <QObject>
#include <QSignalSpy>
#include <QUrl>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "support/LogCapture.h"
#include "support/PollUntil.h"
#include "support/TempDir.h"

namespace velk::test {

// Stands in for the desktop's handler of downloaded files: records what it
// is asked to open.
class RecordingOpener : public QObject {
    Q_OBJECT

public:
    std::vector<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

namespace {

using agent::UpdateInstaller;
using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct NameCase {
    QString url;
    QString name;
};

TEST(UpdateFileName, OnlyTheDecodedLastSegmentWithoutControlCharacters) {
    const QString a196(196, QLatin1Char('a'));
    const QString zhe98(98, QChar(0x0416));
    const std::vector<NameCase> cases = {
        {"https://cloud.vezorodar.bg/downloads/vezorodar_0.2.0_amd64.deb", "vezorodar_0.2.0_amd64.deb"},
        {"https://cloud.vezorodar.bg/downloads/", "VezoRodarC-update.deb"},
        {"https://cloud.vezorodar.bg", "VezoRodarC-update.deb"},
        {"https://x/d/%D0%92%D0%B5%D0%BB%D0%BA%20%D0%90%D0%B3%D0%B5%D0%BD%D1%82.deb", "Велк Агент.deb"},
        {"https://x/d/a%2F..%2F..%2Fetc%2Fpasswd", "a....etcpasswd"},
        {"https://x/d/%2E%2E", "VezoRodarC-update.deb"},
        {"https://x/d/.", "VezoRodarC-update.deb"},
        {"https://x/d/%0A%0D%09", "VezoRodarC-update.deb"},
        {"https://x/d/x%0A%0Dy%00z%7F%C2%85.deb", "xyz.deb"},
        {"https://x/d/%E2%80%AEbed.exe", "bed.exe"},
        {"https://x/d/a.deb?name=b.deb/c#d/e", "a.deb"},
        {"https://x/d/" + QString(300, QLatin1Char('a')) + ".deb", a196 + ".deb"},
        {"https://x/d/" + QString(150, QChar(0x0416)) + ".deb", zhe98 + ".deb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UpdateInstaller::fileNameFor(c.url), c.name) << c.url.toStdString();
    }
}

// The installer against the fake cloud's download route, saving into a
// temporary folder of the test's own.
class UpdateInstallerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        hosts_ = new LoopbackHosts;
        agency_ = new FakeAgency(*hosts_);
    }
    static void TearDownTestSuite() {
        delete agency_;
        delete hosts_;
    }
    void SetUp() override {
        agency_->cloudRoutes().install(agency_->cloud());
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "open");
    }
    void TearDown() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    CloudRoutes& cloud() { return agency_->cloudRoutes(); }

    std::vector<std::string> savedFiles() const {
        std::vector<std::string> names;
        for (const auto& item : std::filesystem::directory_iterator(temp.path())) {
            names.push_back(item.path().filename().string());
        }
        return names;
    }

    // Starts a download and waits for its outcome: the failure reason, or
    // empty after launched.
    QString install(UpdateInstaller& installer, const std::string& url) {
        QSignalSpy launched(&installer, &UpdateInstaller::launched);
        QSignalSpy failed(&installer, &UpdateInstaller::failed);
        installer.start(QString::fromStdString(url));
        for (int i = 0; i < 600 && launched.isEmpty() && failed.isEmpty(); ++i) {
            launched.wait(100);
        }
        EXPECT_EQ(launched.size() + failed.size(), 1);
        return failed.isEmpty() ? QString() : failed.at(0).at(0).toString();
    }

    static LoopbackHosts* hosts_;
    static FakeAgency* agency_;
    TempDir temp;
    ScopedEnv tmpdir{"TMPDIR", temp.str()};
    RecordingOpener opener;
};

LoopbackHosts* UpdateInstallerTest::hosts_ = nullptr;
FakeAgency* UpdateInstallerTest::agency_ = nullptr;

TEST_F(UpdateInstallerTest, ADownloadIsSavedUnderItsDecodedNameAndHandedOff) {
    const std::string package = std::string("!<arch>\ndebian-binary\x00\xff", 24) + std::string(100000, 'p');
    cloud().setDownload("Велк Агент 0.2.0.deb", package);
    UpdateInstaller installer;
    QSignalSpy progress(&installer, &UpdateInstaller::progress);
    LogCapture log;

    EXPECT_EQ(
        install(installer, CloudRoutes::downloadUrl(
                               "%D0%92%D0%B5%D0%BB%D0%BA%20%D0%90%D0%B3%D0%B5%D0%BD%D1%82%200.2.0.deb")),
        QString());

    const auto files = savedFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::string& name = files[0];
    ASSERT_EQ(name.size(), std::string("20260101000000-Велк Агент 0.2.0.deb").size()) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789"), 14u) << name;
    EXPECT_EQ(name.substr(14), "-Велк Агент 0.2.0.deb");
    const std::string path = temp.sub(name);
    EXPECT_EQ(readFile(path), package);
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0], QUrl::fromLocalFile(QString::fromStdString(path)));

    ASSERT_EQ(progress.size(), 2);
    EXPECT_EQ(progress.at(0), (QList<QVariant>{0LL, 0LL}));
    EXPECT_EQ(progress.at(1), (QList<QVariant>{100LL, 100LL}));
    EXPECT_EQ(log.count("INFO", "UpdateInstaller: downloading https://cloud.vezorodar.bg/downloads/"), 1);
    EXPECT_EQ(log.count("INFO", "UpdateInstaller: downloaded " + std::to_string(package.size()) + " bytes"),
              1);
    EXPECT_EQ(log.count("INFO", "UpdateInstaller: handed off to OS installer"), 1);
}

// An error page is not a package: nothing is saved or handed on, and the
// banner can try again.
TEST_F(UpdateInstallerTest, AnErrorStatusIsAFailureAndNothingIsHandedOff) {
    UpdateInstaller installer;
    EXPECT_EQ(install(installer, CloudRoutes::downloadUrl("missing.deb")),
              "Грешка при изтегляне на инсталатора (HTTP 404).");
    EXPECT_TRUE(opener.opened.empty());
    EXPECT_TRUE(savedFiles().empty());

    agency_->cloud().on("GET", "/downloads/broken.deb", Reply::text(500, "<html>oops</html>"));
    EXPECT_EQ(install(installer, CloudRoutes::downloadUrl("broken.deb")),
              "Грешка при изтегляне на инсталатора (HTTP 500).");

    // Retried once the package is there.
    cloud().setDownload("missing.deb", "package");
    EXPECT_EQ(install(installer, CloudRoutes::downloadUrl("missing.deb")), QString());
    EXPECT_EQ(opener.opened.size(), 1u);
}

TEST_F(UpdateInstallerTest, EmptyAndFailedTransfersAndUnwritableFolders) {
    UpdateInstaller installer;
    QSignalSpy failed(&installer, &UpdateInstaller::failed);
    installer.start(QString());
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(), "Няма URL за изтегляне на инсталатора.");

    cloud().setDownload("empty.deb", "");
    EXPECT_EQ(install(installer, CloudRoutes::downloadUrl("empty.deb")),
              "Грешка при изтегляне на инсталатора (празен отговор).");
    EXPECT_EQ(install(installer, "https://127.0.0.1:1/closed.deb"),
              "Грешка при изтегляне на инсталатора (празен отговор).");

    // The temporary folder lies under a file: there is none, and nothing is
    // saved anywhere else.
    std::ofstream(temp.sub("file")) << "x";
    const ScopedEnv blocked("TMPDIR", temp.sub("file/tmp"));
    cloud().setDownload("ok.deb", "package");
    agency_->cloud().clearRequests();
    QSignalSpy progress(&installer, &UpdateInstaller::progress);
    failed.clear();
    installer.start(QString::fromStdString(CloudRoutes::downloadUrl("ok.deb")));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(), "Не може да се запази инсталатора: No such file or directory");
    EXPECT_TRUE(progress.isEmpty());
    EXPECT_TRUE(agency_->cloud().requests().empty());
    EXPECT_TRUE(opener.opened.empty());
    EXPECT_EQ(savedFiles(), std::vector<std::string>{"file"});
}

// A second start while one download runs is refused; destroying the
// installer cancels the download: no file, no hand-off, and it does not wait
// for the stalled server.
TEST_F(UpdateInstallerTest, ACancelledDownloadLeavesNoFile) {
    agency_->cloud().on("GET", "/downloads/slow.deb", Reply::text(200, "late package").after(300s));
    auto installer = std::make_unique<UpdateInstaller>();
    QSignalSpy failed(installer.get(), &UpdateInstaller::failed);
    installer->start(QString::fromStdString(CloudRoutes::downloadUrl("slow.deb")));
    ASSERT_TRUE(pollUntil([&] { return !agency_->cloud().requestsTo("/downloads/slow.deb").empty(); },
                          [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); }))
        << "the download never reached the server";
    installer->start(QString::fromStdString(CloudRoutes::downloadUrl("other.deb")));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(), "Изтеглянето вече тече. Изчакайте го да приключи.");

    installer.reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(savedFiles().empty());
    EXPECT_TRUE(opener.opened.empty());
    EXPECT_EQ(agency_->cloud().requestsTo("/downloads/other.deb").size(), 0u);
}

}  // namespace
}  // namespace velk::test

#include "UpdateInstallerTest.moc"
