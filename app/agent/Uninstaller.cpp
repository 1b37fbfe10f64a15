#include "agent/Uninstaller.h"

#include <QProcess>
#include <QStandardPaths>

#include <utility>

#include "common/Logger.h"
#include "platform/AutoStart.h"
#include "platform/ProtocolHandler.h"

namespace velk::agent {

namespace {

using core::LogLevel;
using core::logLine;

// dpkg-query answers quickly; a hung one must not hold shut-down for long.
constexpr int kLookupTimeoutMs = 30'000;

// Whether dpkg knows the package as installed ("install ok installed",
// "hold ok installed"); removed packages keep a status too.
bool packageInstalled() {
    QProcess query;
    query.setProcessChannelMode(QProcess::SeparateChannels);
    query.start(QStringLiteral("dpkg-query"), {QStringLiteral("-W"), QStringLiteral("-f=${Status}"),
                                               QString::fromLatin1(Uninstaller::kPackage)});
    if (!query.waitForFinished(kLookupTimeoutMs)) {
        query.kill();
        query.waitForFinished(1000);
        return false;
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) {
        return false;
    }
    const QByteArray status = query.readAllStandardOutput().trimmed();
    return status.split(' ').last() == "installed";
}

QString userEntry(const std::string& path) {
    return QString::fromStdString(path);
}

}  // namespace

Uninstaller::Uninstaller(QObject* parent) : Uninstaller(AgentRestart::afterThisProcess(), parent) {}

Uninstaller::Uninstaller(AgentRestart restart, QObject* parent)
    : QObject(parent), restart_(std::move(restart)) {}

Uninstaller::~Uninstaller() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

QString Uninstaller::removalCommand(const QStringList& userEntries) {
    return PackageShell::removalCommand(QString::fromLatin1(kPackage), userEntries);
}

void Uninstaller::start() {
    if (busy_) {
        emit failed(tr("Деинсталацията вече тече."));
        return;
    }
    busy_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
    const QStringList entries = {userEntry(platform::AutoStart::entryPath()),
                                 userEntry(platform::ProtocolHandler::entryPath())};
    worker_ = std::thread([this, entries] { lookUpAndLaunch(entries); });
}

void Uninstaller::lookUpAndLaunch(const QStringList& userEntries) {
    if (!packageInstalled()) {
        post([this] {
            busy_ = false;
            emit failed(
                tr("Не е намерен инсталиран пакет vezorodar. Ако агентът е стартиран от папка за "
                   "разработка, ползвайте файловата система за изтриване."));
        });
        return;
    }
    // Without the prompt program the removal would fail unseen after the
    // agent has quit.
    bool started = false;
    if (QStandardPaths::findExecutable(QStringLiteral("pkexec")).isEmpty()) {
        logLine(LogLevel::Warn, "Uninstaller: pkexec not found");
    } else {
        logLine(LogLevel::Info, "Uninstaller: launching pkexec apt-get remove -y vezorodar");
        started = PackageShell::startDetached(
            PackageShell::removalArguments(QString::fromLatin1(kPackage), userEntries, restart_));
    }
    post([this, started] {
        busy_ = false;
        if (started) {
            emit launched();
        } else {
            emit failed(tr("Не може да се стартира pkexec."));
        }
    });
}

void Uninstaller::post(std::function<void()> step) {
    QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

}  // namespace velk::agent
