#include "agent/UpdateInstaller.h"

#include <QDateTime>
#include <QObject>
#include <QSignalSpy>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PackageStandIns.h"
#include "agent/PackageFile.h"
#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "platform/UniqueFd.h"
#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/PollUntil.h"
#include "support/SilentListener.h"
#include "support/TempDir.h"
#include "support/UnusualFiles.h"

namespace velk::test {

namespace {

using agent::PackageFile;
using agent::UpdateInstaller;
using namespace std::chrono_literals;

// An ar archive's signature and the header of a first member of that name,
// padded as dpkg-deb writes it.
std::string archiveHead(const std::string& member) {
    std::string header = member;
    header.resize(16, ' ');
    header += "1700000000  0     0     100644  4         `\n";
    return "!<arch>\n" + header;
}

// A Debian package as far as the installer looks: the archive and its
// first member; the rest of the bytes are the package's.
std::string debianPackage(std::size_t size) {
    std::string bytes = archiveHead("debian-binary") + "2.0\n";
    bytes.resize(std::max(size, bytes.size()), 'p');
    return bytes;
}

const QString kHttpsOnly = QStringLiteral("Изтеглянето е отказано: инсталаторът се изтегля само през https.");
const QString kNotDebian =
    QStringLiteral("Изтегленият файл не е пакет на Debian (.deb). Инсталацията е отказана.");

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
        {"https://x/d/%D0%92%D0%B5%D0%BB%D0%BA%20%D0%90%D0%B3%D0%B5%D0%BD%D1%82.deb", "Велк_Агент.deb"},
        // What apt-get or a shell would read as more than a file name.
        {"https://x/d/vezorodar:0.2.0=1_amd64.deb", "vezorodar_0.2.0_1_amd64.deb"},
        {"https://x/d/%20!%22%23$%25&'()*,:;%3C=%3E%3F@%5B%5C%5D%5E%60%7B%7C%7D~a+b.deb",
         "____________________________a+b.deb"},
        // Letters and symbols beyond the first plane are one character each.
        {"https://x/d/%F0%90%90%80%F0%9F%98%80.deb", QString::fromUcs4(U"\U00010400_.deb")},
        {"https://x/d/%20%20", "VezoRodarC-update.deb"},
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

struct HeadCase {
    const char* name;
    std::string head;
    bool debian;
};

// dpkg accepts the first member name padded with blanks, or ended by '/' as
// GNU ar writes it; nothing else that begins like an archive.
TEST(DebianPackageHead, TheArchiveSignatureAndTheFirstMemberName) {
    std::string gnu = archiveHead("debian-binary/");
    const std::vector<HeadCase> cases = {
        {"dpkg-deb", archiveHead("debian-binary"), true},
        {"GNU ar", gnu, true},
        {"another first member", archiveHead("control.tar.xz"), false},
        {"a longer name", archiveHead("debian-binaryx"), false},
        {"two slashes", archiveHead("debian-binary//"), false},
        {"a thin archive", "!<thin>\n" + archiveHead("debian-binary").substr(8), false},
        {"a zip file", std::string("PK\x03\x04", 4) + std::string(40, '\0'), false},
        {"an HTML page", "<html><body>not found</body></html>", false},
        {"cut short", archiveHead("debian-binary").substr(0, 23), false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PackageFile::isDebianPackageHead(c.head), c.debian) << c.name;
    }
}

// The installer against the fake cloud's download route, saving into a
// temporary folder of the test's own, with stand-ins for the package tools
// and the installed agent.
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
    void SetUp() override { agency_->cloudRoutes().install(agency_->cloud()); }

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
    static QString install(UpdateInstaller& installer, const std::string& url) {
        QSignalSpy launched(&installer, &UpdateInstaller::launched);
        QSignalSpy failed(&installer, &UpdateInstaller::failed);
        installer.start(QString::fromStdString(url));
        for (int i = 0; i < 600 && launched.isEmpty() && failed.isEmpty(); ++i) {
            launched.wait(100);
        }
        EXPECT_EQ(launched.size() + failed.size(), 1) << "no outcome within a minute";
        return failed.isEmpty() ? QString() : failed.at(0).at(0).toString();
    }

    static LoopbackHosts* hosts_;
    static FakeAgency* agency_;
    TempDir temp;
    TempDir tools;
    ScopedEnv tmpdir{"TMPDIR", temp.str()};
    PackageStandIns standIns{tools.str()};
    ScopedEnv path{"PATH", standIns.bin()};
};

LoopbackHosts* UpdateInstallerTest::hosts_ = nullptr;
FakeAgency* UpdateInstallerTest::agency_ = nullptr;

struct ShellCase {
    const char* name;
    int pkexecExit;  // 0: apt-get runs
    int aptGetExit;
};

// The package goes to apt-get by its absolute path; installed, refused or
// cancelled, the file goes and the agent starts again, but only once the old
// one has ended.
TEST_F(UpdateInstallerTest, ThePackageIsInstalledByAShellThatStartsTheAgentAgain) {
    const std::vector<ShellCase> cases = {
        {"installed", 0, 0},
        {"refused by apt-get", 0, 100},
        {"password prompt dismissed", 126, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PackageStandIns shellTools(tools.sub(c.name));
        const ScopedEnv toolsOnly("PATH", shellTools.bin());
        shellTools.pkexecAnswers(c.pkexecExit);
        shellTools.aptGetAnswers(c.aptGetExit);
        const std::string package = debianPackage(100000);
        cloud().setDownload("Велк Агент 0.2.0.deb", package);
        UpdateInstaller installer(shellTools.restart());
        QSignalSpy progress(&installer, &UpdateInstaller::progress);
        LogCapture log;

        ASSERT_EQ(
            install(installer, CloudRoutes::downloadUrl(
                                   "%D0%92%D0%B5%D0%BB%D0%BA%20%D0%90%D0%B3%D0%B5%D0%BD%D1%82%200.2.0.deb")),
            QString());
        ASSERT_TRUE(pollUntil([&] { return !shellTools.pkexecRun().empty(); },
                              [] { std::this_thread::sleep_for(10ms); }))
            << "the shell never ran pkexec";
        const auto pkexec = shellTools.pkexecRun();
        ASSERT_EQ(pkexec.size(), 5u);
        EXPECT_EQ(std::vector<std::string>(pkexec.begin(), pkexec.begin() + 4),
                  (std::vector<std::string>{"apt-get", "install", "-y", "--no-remove"}));
        // Saved in the temporary folder under the time stamp and the decoded name.
        const std::filesystem::path saved = pkexec[4];
        EXPECT_EQ(saved.parent_path(), temp.path());
        const std::string name = saved.filename().string();
        ASSERT_EQ(name.size(), std::string("20260101000000-Велк_Агент_0.2.0.deb").size()) << name;
        EXPECT_EQ(name.find_first_not_of("0123456789"), 14u) << name;
        EXPECT_EQ(name.substr(14), "-Велк_Агент_0.2.0.deb");

        // The old agent still runs: the shell waits for it.
        ASSERT_TRUE(shellTools.waitUntilTheShellWaits()) << "the shell does not wait for the old agent";
        EXPECT_TRUE(shellTools.agentRun().empty());
        shellTools.endOldAgent();
        ASSERT_TRUE(shellTools.waitForAgent()) << "the agent was not started again";
        EXPECT_EQ(shellTools.agentRun(), (std::vector<std::string>{"--silent", "old-ended"}));
        EXPECT_FALSE(std::filesystem::exists(saved));
        if (c.pkexecExit == 0) {
            EXPECT_EQ(shellTools.aptGetRun(), std::vector<std::string>(pkexec.begin() + 1, pkexec.end()));
            EXPECT_TRUE(shellTools.packageSeen() == package) << "apt-get did not get the whole package";
        } else {
            EXPECT_TRUE(shellTools.aptGetRun().empty());
        }

        ASSERT_EQ(progress.size(), 2);
        EXPECT_EQ(progress.at(0), (QList<QVariant>{0LL, 0LL}));
        EXPECT_EQ(progress.at(1), (QList<QVariant>{100LL, 100LL}));
        EXPECT_EQ(log.count("INFO", "UpdateInstaller: downloading https://cloud.vezorodar.bg/downloads/"), 1);
        EXPECT_EQ(
            log.count("INFO", "UpdateInstaller: downloaded " + std::to_string(package.size()) + " bytes"), 1);
        EXPECT_EQ(log.count("INFO", "UpdateInstaller: handed off to OS installer"), 1);
    }
}

// What is at a path, without following a link: a link's target, a regular
// file's owner and bytes, something else, or nothing.
std::string whatIsAt(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return "nothing";
    }
    if (S_ISLNK(info.st_mode)) {
        return "link to " + std::filesystem::read_symlink(path).string();
    }
    if (!S_ISREG(info.st_mode)) {
        return "something else";
    }
    return "file of " + std::to_string(info.st_uid) + ": " + readFileText(path);
}

// As root, a planted file becomes another user's, as it would be in a
// shared temporary folder.
void giveToAnotherUser(const std::string& path) {
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0);
    }
}

struct TakenNameCase {
    const char* name;
    // Puts something at the name the package would get; null: nothing.
    std::function<void(const std::string& path)> plant;
};

// The name carries only characters that apt-get and the shell read as a
// file name, and the file under it is one the installer made itself:
// whatever someone else put at the name first (a file, a link) stays as it
// was, and the package is saved and installed under a name with a random
// part.
TEST_F(UpdateInstallerTest, ThePackageIsSavedUnderASafeNameInAFileOfItsOwn) {
    const std::string package = debianPackage(50000);
    cloud().setDownload("vezorodar:0.2.0 amd64;x.deb", package);
    const std::string url = CloudRoutes::downloadUrl("vezorodar:0.2.0%20amd64;x.deb");
    const std::string stampedName = "20260304050607-vezorodar_0.2.0_amd64_x.deb";
    const std::regex withRandomPart("20260304050607-vezorodar_0\\.2\\.0_amd64_x-[A-Za-z0-9]{8}\\.deb");
    const std::string victim = tools.sub("victim");
    writeFileText(victim, "victim");
    const std::vector<TakenNameCase> cases = {
        {"a free name", nullptr},
        {"a file of another user",
         [](const std::string& path) {
             writeFileText(path, "someone else's");
             giveToAnotherUser(path);
         }},
        {"a link to a file",
         [&](const std::string& path) {
             std::filesystem::create_symlink(victim, path);
             giveToAnotherUser(path);
         }},
        {"a dangling link",
         [&](const std::string& path) { std::filesystem::create_symlink(tools.sub("nowhere"), path); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir shared;
        const ScopedEnv sharedTemp("TMPDIR", shared.str());
        PackageStandIns shellTools(tools.sub(c.name));
        const ScopedEnv toolsOnly("PATH", shellTools.bin());
        const std::string planted = shared.sub(stampedName);
        if (c.plant) {
            c.plant(planted);
        }
        const std::string plantedBefore = whatIsAt(planted);
        UpdateInstaller installer(shellTools.restart());
        installer.setClock([] { return QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC); });
        LogCapture log;

        ASSERT_EQ(install(installer, url), QString());
        ASSERT_TRUE(pollUntil([&] { return !shellTools.pkexecRun().empty(); },
                              [] { std::this_thread::sleep_for(10ms); }))
            << "the shell never ran pkexec";
        const auto pkexec = shellTools.pkexecRun();
        ASSERT_EQ(pkexec.size(), 5u);
        const std::filesystem::path saved = pkexec[4];
        EXPECT_EQ(saved.parent_path(), shared.path());
        if (c.plant) {
            EXPECT_TRUE(std::regex_match(saved.filename().string(), withRandomPart)) << saved;
            EXPECT_EQ(log.count("WARN", stampedName + " was taken; saved as " + saved.string()), 1);
        } else {
            EXPECT_EQ(saved.filename().string(), stampedName);
            EXPECT_EQ(log.count("WARN", "was taken"), 0);
        }
        ASSERT_TRUE(shellTools.awaitRestarts(1)) << "the installing shell did not end";
        EXPECT_TRUE(shellTools.packageSeen() == package) << "apt-get did not get the whole package";
        EXPECT_EQ(whatIsAt(planted), plantedBefore);
        EXPECT_EQ(readFileText(victim), "victim");
        EXPECT_FALSE(std::filesystem::exists(tools.sub("nowhere")));
    }
}

struct LeftOverCase {
    const char* name;  // in the temporary folder
    std::function<void(const std::string& path)> make;
    bool removed;
};

// A download killed hard leaves its hidden partial file. The next download
// removes those of this user's downloads and nothing else: not another
// user's, not one that a running download holds, not a link, a pipe or a
// folder, not a name of another shape.
TEST_F(UpdateInstallerTest, TheNextDownloadRemovesPartialFilesLeftBehind) {
    const std::string victim = tools.sub("victim.deb");
    writeFileText(victim, "victim");
    const auto partial = [](const std::string& path) {
        writeFileText(path, archiveHead("debian-binary") + "half a package");
        ::chmod(path.c_str(), 0600);
    };
    platform::UniqueFd held;
    std::vector<LeftOverCase> cases = {
        {".20260101000000-vezorodar_0.2.0_amd64.deb.part-a1B2c3", partial, true},
        {".20251231235959-Велк Агент 0.1.0.deb.part-Zz9Yy8", partial, true},
        {".20260101000001-vezorodar.deb.part-HeLd01",
         [&](const std::string& path) {
             partial(path);
             held = platform::UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
             ASSERT_EQ(::flock(held.get(), LOCK_EX | LOCK_NB), 0);
         },
         false},
        {".20260101000003-vezorodar.deb.part-LiNk01",
         [&](const std::string& path) { std::filesystem::create_symlink(victim, path); }, false},
        {".20260101000004-vezorodar.deb.part-FiFo01", [](const std::string& path) { makeFifo(path); }, false},
        {".20260101000005-vezorodar.deb.part-DiR001",
         [](const std::string& path) { std::filesystem::create_directory(path); }, false},
        {"20260101000000-vezorodar.deb", partial, false},
        {".vezorodar.deb.part-abcdef", partial, false},
        {".20260101000000-vezorodar.deb.part-abc", partial, false},
        {".2026010100000x-vezorodar.deb.part-abcdef", partial, false},
        {".20260101000000-vezorodar.tar.part-abcdef", partial, false},
        {".20260101000000-vezorodar.deb.part-ab_def", partial, false},
        {"notes.txt", partial, false},
    };
    if (::geteuid() == 0) {
        cases.push_back({".20260101000002-vezorodar.deb.part-OtHeR1",
                         [&](const std::string& path) {
                             partial(path);
                             giveToAnotherUser(path);
                         },
                         false});
    }
    for (const auto& c : cases) {
        c.make(temp.sub(c.name));
    }
    cloud().setDownload("next.deb", debianPackage(1000));
    UpdateInstaller installer(standIns.restart());
    LogCapture log;

    ASSERT_EQ(install(installer, CloudRoutes::downloadUrl("next.deb")), QString());
    for (const auto& c : cases) {
        EXPECT_EQ(whatIsAt(temp.sub(c.name)) == "nothing", c.removed) << c.name;
    }
    EXPECT_EQ(readFileText(victim), "victim");
    EXPECT_EQ(log.count("INFO", "UpdateInstaller: removed 2 partial download(s) left behind"), 1);
    EXPECT_TRUE(standIns.awaitRestarts(1)) << "the installing shell did not end";
}

// A download that runs holds its partial file: a removal of left-overs
// beside it, by another agent of the same user, leaves it alone.
TEST(PackageFileLeftOvers, ARunningDownloadIsNoLeftOver) {
    const TempDir folder;
    const auto anyTarget = [](std::string_view) { return true; };
    const auto entries = [&] {
        const std::filesystem::directory_iterator items(folder.path());
        return std::distance(begin(items), end(items));
    };
    {
        PackageFile file(folder.sub("20260101000000-v.deb"), 1 << 20);
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.append(archiveHead("debian-binary")));
        EXPECT_EQ(PackageFile::removeLeftOvers(folder.str(), anyTarget), 0);
        EXPECT_EQ(entries(), 1);
    }
    EXPECT_EQ(entries(), 0);
}

struct RefusalCase {
    const char* name;
    std::string url;
    QString reason;
};

// The package is installed as root: whatever does not come whole over
// verified https as a Debian package is refused before it can be installed,
// leaves no file, and leaves the agent running (no launched). Nothing
// reaches a host over another protocol.
TEST_F(UpdateInstallerTest, RefusalsSayWhyAndLeaveNothingBehind) {
    auto plain = TestServer::plain();
    plain->start();
    plain->on("GET", "/vezorodar.deb", Reply::text(200, debianPackage(1000)));
    const SilentListener gopherHost;
    agency_->cloud().on("GET", "/downloads/to-http.deb", Reply::redirect(plain->url("/vezorodar.deb")));
    agency_->cloud().on("GET", "/downloads/to-gopher.deb",
                        Reply::redirect("gopher://127.0.0.1:" + std::to_string(gopherHost.port()) + "/_x"));
    cloud().setDownload("archive.zip.deb", std::string("PK\x03\x04", 4) + std::string(5000, 'z'));
    cloud().setDownload("tiny.deb", "package");
    cloud().setDownload("other-archive.deb", archiveHead("control.tar.xz") + std::string(5000, 'c'));
    cloud().setDownload("large.deb", debianPackage(3 * 1024 * 1024));
    const std::string gopherUrl = "gopher://127.0.0.1:" + std::to_string(gopherHost.port()) + "/_x";

    const std::vector<RefusalCase> cases = {
        {"plain http", plain->url("/vezorodar.deb"), kHttpsOnly},
        {"plain http in capitals", "HTTP://127.0.0.1:" + std::to_string(plain->port()) + "/vezorodar.deb",
         kHttpsOnly},
        {"gopher", gopherUrl, kHttpsOnly},
        {"a local file", "file://" + tools.sub("bin/pkexec"), kHttpsOnly},
        {"a redirect to http", CloudRoutes::downloadUrl("to-http.deb"), kHttpsOnly},
        {"a redirect to gopher", CloudRoutes::downloadUrl("to-gopher.deb"), kHttpsOnly},
        {"a zip archive", CloudRoutes::downloadUrl("archive.zip.deb"), kNotDebian},
        {"a few bytes", CloudRoutes::downloadUrl("tiny.deb"), kNotDebian},
        {"another ar archive", CloudRoutes::downloadUrl("other-archive.deb"), kNotDebian},
        {"over the limit", CloudRoutes::downloadUrl("large.deb"),
         QStringLiteral("Инсталаторът е твърде голям (над 2 MiB). Изтеглянето е прекъснато.")},
    };
    UpdateInstaller installer(standIns.restart());
    installer.setMaxPackageBytes(2 * 1024 * 1024);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plain->clearRequests();
        EXPECT_EQ(install(installer, c.url), c.reason);
        EXPECT_TRUE(savedFiles().empty());
        EXPECT_TRUE(plain->requests().empty());
        EXPECT_FALSE(gopherHost.connected());
        EXPECT_TRUE(standIns.pkexecRun().empty());
    }
    // The installer is free again for a good package.
    cloud().setDownload("good.deb", debianPackage(1000));
    EXPECT_EQ(install(installer, CloudRoutes::downloadUrl("good.deb")), QString());
    EXPECT_TRUE(standIns.awaitRestarts(1)) << "the installing shell did not end";
}

// Proc's peak resident size of this process, in bytes.
std::int64_t peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoll(line.substr(6)) * 1024;
        }
    }
    return -1;
}

// The package is written as it arrives: downloading one several times
// larger than the margin leaves the process's peak memory within it.
TEST_F(UpdateInstallerTest, ALargePackageIsNeverHeldInMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer keeps freed memory resident: the peak says nothing here";
#endif
    constexpr std::size_t kPackage = 32 * 1024 * 1024;
    constexpr std::int64_t kMargin = 8 * 1024 * 1024;
    const std::string head = debianPackage(0);
    agency_->cloud().on("GET", "/downloads/large-streamed.deb", Reply::streamed(200, head, kPackage, 'p'));
    UpdateInstaller installer(standIns.restart());
    installer.setMaxPackageBytes(64 * 1024 * 1024);
    // Warm up the connection and the buffers with a small package first.
    cloud().setDownload("small.deb", debianPackage(1000));
    ASSERT_EQ(install(installer, CloudRoutes::downloadUrl("small.deb")), QString());

    // Writing 5 to clear_refs starts the peak anew from the present size.
    std::ofstream("/proc/self/clear_refs") << "5";
    const std::int64_t before = peakResidentBytes();
    ASSERT_GT(before, 0);
    LogCapture log;
    ASSERT_EQ(install(installer, CloudRoutes::downloadUrl("large-streamed.deb")), QString());
    const std::int64_t growth = peakResidentBytes() - before;
    EXPECT_LT(growth, kMargin) << "the peak grew by " << growth << " bytes for a package of " << kPackage;
    EXPECT_EQ(log.count("INFO", "UpdateInstaller: downloaded " + std::to_string(kPackage) + " bytes"), 1);
    EXPECT_TRUE(standIns.awaitRestarts(2)) << "the installing shells did not end";
}

// An error page is not a package: nothing is saved or installed, and the
// banner can try again.
TEST_F(UpdateInstallerTest, AnErrorStatusIsAFailureAndNothingIsHandedOff) {
    UpdateInstaller installer(standIns.restart());
    EXPECT_EQ(install(installer, CloudRoutes::downloadUrl("missing.deb")),
              "Грешка при изтегляне на инсталатора (HTTP 404).");
    EXPECT_TRUE(standIns.pkexecRun().empty());
    EXPECT_TRUE(savedFiles().empty());

    agency_->cloud().on("GET", "/downloads/broken.deb", Reply::text(500, "<html>oops</html>"));
    EXPECT_EQ(install(installer, CloudRoutes::downloadUrl("broken.deb")),
              "Грешка при изтегляне на инсталатора (HTTP 500).");

    // Retried once the package is there.
    cloud().setDownload("missing.deb", debianPackage(1000));
    EXPECT_EQ(install(installer, CloudRoutes::downloadUrl("missing.deb")), QString());
    EXPECT_TRUE(standIns.awaitRestarts(1)) << "the installing shell did not end";
}

TEST_F(UpdateInstallerTest, EmptyAndFailedTransfersAndUnwritableFolders) {
    UpdateInstaller installer(standIns.restart());
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
    cloud().setDownload("ok.deb", debianPackage(1000));
    agency_->cloud().clearRequests();
    QSignalSpy progress(&installer, &UpdateInstaller::progress);
    failed.clear();
    installer.start(QString::fromStdString(CloudRoutes::downloadUrl("ok.deb")));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(), "Не може да се запази инсталатора: No such file or directory");
    EXPECT_TRUE(progress.isEmpty());
    EXPECT_TRUE(agency_->cloud().requests().empty());
    EXPECT_TRUE(standIns.pkexecRun().empty());
    EXPECT_EQ(savedFiles(), std::vector<std::string>{"file"});
}

// Without the password prompt nothing can install the package: it stays,
// and the failure names where.
TEST_F(UpdateInstallerTest, WithoutThePasswordPromptThePackageStaysWhereTheFailureSays) {
    std::filesystem::remove(standIns.bin() + "/pkexec");
    const ScopedEnv onlyStandIns("PATH", standIns.bin());
    cloud().setDownload("v.deb", debianPackage(1000));
    UpdateInstaller installer(standIns.restart());
    LogCapture log;
    const QString reason = install(installer, CloudRoutes::downloadUrl("v.deb"));
    const auto files = savedFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(reason, "Не може да се стартира инсталатора. Файлът е изтеглен в: " +
                          QString::fromStdString(temp.sub(files[0])));
    EXPECT_EQ(log.count("WARN", "UpdateInstaller: pkexec not found"), 1);
}

// A second start while one download runs is refused; destroying the
// installer cancels the download: no file, no hand-off, and it does not wait
// for the stalled server.
TEST_F(UpdateInstallerTest, ACancelledDownloadLeavesNoFile) {
    agency_->cloud().on("GET", "/downloads/slow.deb",
                        Reply::streamed(200, debianPackage(0), 100000, 'p').after(300s));
    auto installer = std::make_unique<UpdateInstaller>(standIns.restart());
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
    EXPECT_TRUE(standIns.pkexecRun().empty());
    EXPECT_EQ(agency_->cloud().requestsTo("/downloads/other.deb").size(), 0u);
}

}  // namespace
}  // namespace velk::test
