#include "agent/UpdateInstaller.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QUrl>
#include <QVector>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "agent/PackageFile.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/HttpClient.h"

namespace velk::agent {

namespace {

using core::LogLevel;
using core::logLine;
using core::infra::http::HttpClient;
using core::infra::http::HttpClientOptions;

constexpr int kMaxFileNameBytes = 200;

std::unique_ptr<HttpClient> downloadClient() {
    HttpClientOptions options;
    options.userAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36";
    options.followRedirects = true;
    options.maxRedirects = 10;
    options.timeout = std::chrono::seconds(600);
    options.verifyTls = true;
    // The package is installed as root: it comes over verified TLS or not
    // at all, redirects included.
    options.protocols = "https";
    return HttpClient::create(std::move(options));
}

constexpr int kStampChars = 14;

// Invisible characters and slashes leave no trace in a file name.
bool droppedFromFileName(uint c) {
    const QChar::Category category = QChar::category(c);
    return c == '/' || category == QChar::Other_Control || category == QChar::Other_Format;
}

// apt-get reads an argument with ':' or '=' as a package name with an
// architecture or a version and installs nothing from the file; blanks and
// quotes are no better in a shell's hands.
bool safeInFileName(uint c) {
    return QChar::isLetter(c) || QChar::isDigit(c) || c == '.' || c == '-' || c == '_' || c == '+';
}

int utf8Bytes(uint c) {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// The names this installer gives its downloads: the time stamp, '-', a name
// and ".deb".
bool isDownloadName(std::string_view name) {
    constexpr std::string_view kExtension = ".deb";
    if (name.size() <= kStampChars + 1 + kExtension.size() || name[kStampChars] != '-' ||
        name.substr(name.size() - kExtension.size()) != kExtension) {
        return false;
    }
    for (const char c : name.substr(0, kStampChars)) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

QString httpsOnly() {
    return QObject::tr("Изтеглянето е отказано: инсталаторът се изтегля само през https.");
}

QString emptyReply() {
    return QObject::tr("Грешка при изтегляне на инсталатора (празен отговор).");
}

QString problemText(const PackageFile& file, std::int64_t maxBytes) {
    constexpr std::int64_t kMiB = 1024 * 1024;
    switch (file.problem()) {
        case PackageFile::Problem::TooLarge:
            return QObject::tr("Инсталаторът е твърде голям (над %1 MiB). Изтеглянето е прекъснато.")
                .arg((maxBytes + kMiB - 1) / kMiB);
        case PackageFile::Problem::NotDebian:
            return QObject::tr("Изтегленият файл не е пакет на Debian (.deb). Инсталацията е отказана.");
        case PackageFile::Problem::OutOfSpace:
            return QObject::tr("Не може да се запише целия файл (ниска свободна памет?).");
        case PackageFile::Problem::WriteFailed:
        case PackageFile::Problem::None:
            break;
    }
    return QObject::tr("Не може да се запази инсталатора: ") +
           QString::fromLocal8Bit(std::strerror(file.error()));
}

const char* problemLog(PackageFile::Problem problem) {
    switch (problem) {
        case PackageFile::Problem::TooLarge:
            return "larger than the limit";
        case PackageFile::Problem::NotDebian:
            return "not a Debian package";
        case PackageFile::Problem::OutOfSpace:
            return "out of disk space";
        case PackageFile::Problem::WriteFailed:
            return "cannot write the file";
        case PackageFile::Problem::None:
            break;
    }
    return "";
}

// apt-get takes an argument for a package file only when it ends so.
QString withDebExtension(const QString& name) {
    return name.endsWith(QLatin1String(".deb")) ? name : name + QLatin1String(".deb");
}

}  // namespace

UpdateInstaller::UpdateInstaller(QObject* parent)
    : UpdateInstaller(AgentRestart::afterThisProcess(), parent) {}

UpdateInstaller::UpdateInstaller(AgentRestart restart, QObject* parent)
    : QObject(parent), restart_(std::move(restart)) {}

UpdateInstaller::~UpdateInstaller() {
    stopping_.store(true);
    if (http_) {
        http_->cancel();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
}

QString UpdateInstaller::fileNameFor(const QString& downloadUrl) {
    const QString path = QUrl(downloadUrl, QUrl::TolerantMode).path(QUrl::FullyEncoded);
    const QString segment = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const QString decoded = QUrl::fromPercentEncoding(segment.toUtf8());
    QVector<uint> name;
    for (const uint c : decoded.toUcs4()) {
        if (!droppedFromFileName(c)) {
            name.append(c);
        }
    }
    const QString visible = QString::fromUcs4(name.constData(), name.size());
    if (visible.trimmed().isEmpty() || visible == QLatin1String(".") || visible == QLatin1String("..")) {
        return QString::fromLatin1(kDefaultFileName);
    }
    int bytes = 0;
    for (uint& c : name) {
        if (!safeInFileName(c)) {
            c = '_';
        }
        bytes += utf8Bytes(c);
    }
    // Cut from the front, whole characters only, so the extension stays.
    int first = 0;
    for (; bytes > kMaxFileNameBytes; ++first) {
        bytes -= utf8Bytes(name.at(first));
    }
    return QString::fromUcs4(name.constData() + first, name.size() - first);
}

void UpdateInstaller::start(const QString& downloadUrl) {
    if (busy_) {
        emit failed(tr("Изтеглянето вече тече. Изчакайте го да приключи."));
        return;
    }
    if (downloadUrl.isEmpty()) {
        emit failed(tr("Няма URL за изтегляне на инсталатора."));
        return;
    }
    if (QUrl(downloadUrl, QUrl::TolerantMode).scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) !=
        0) {
        logLine(LogLevel::Warn, "UpdateInstaller: refused " +
                                    core::escapeControlBytes(downloadUrl.toStdString()) + " — not https");
        emit failed(httpsOnly());
        return;
    }
    // Qt names no temporary folder when TMPDIR names none that exists; the
    // package must then not land in the current or the root folder.
    const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (temp.isEmpty() || !QDir().mkpath(temp)) {
        emit failed(tr("Не може да се запази инсталатора: ") + QString::fromLocal8Bit(std::strerror(ENOENT)));
        return;
    }
    busy_ = true;
    emit progress(0, 0);
    // The last download has posted its outcome: its thread is done or about
    // to be.
    if (worker_.joinable()) {
        worker_.join();
    }
    const QString stamp = now_().toUTC().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString target =
        temp + QLatin1Char('/') + stamp + QLatin1Char('-') + withDebExtension(fileNameFor(downloadUrl));
    http_ = downloadClient();
    worker_ = std::thread([this, url = downloadUrl.toStdString(), target = target.toStdString(),
                           maxBytes = maxPackageBytes_] { download(url, target, maxBytes); });
}

void UpdateInstaller::download(const std::string& url, const std::string& target, std::int64_t maxBytes) {
    logLine(LogLevel::Info, "UpdateInstaller: downloading " + core::escapeControlBytes(url) + " -> " +
                                core::escapeControlBytes(target));
    const std::string folder = target.substr(0, target.rfind('/'));
    if (const int removed = PackageFile::removeLeftOvers(folder, isDownloadName); removed > 0) {
        logLine(LogLevel::Info,
                "UpdateInstaller: removed " + std::to_string(removed) + " partial download(s) left behind");
    }
    // Removes what it wrote unless the whole package is kept.
    PackageFile file(target, maxBytes);
    if (!file.open()) {
        const QString reason = problemText(file, maxBytes);
        post([this, reason] { finishWithFailure(reason); });
        return;
    }
    const auto response =
        http_->getStreamed(url, {}, [&file](std::string_view piece) { return file.append(piece); });
    if (stopping_.load()) {
        return;
    }
    const bool stoppedByFile = file.problem() != PackageFile::Problem::None;
    const bool success = response.status >= 200 && response.status <= 299;
    QString reason;
    if (HttpClient::refusedProtocol(response)) {
        logLine(LogLevel::Warn, "UpdateInstaller: download refused — a redirect left https");
        reason = httpsOnly();
    } else if (!response.error.empty() && !stoppedByFile) {
        logLine(LogLevel::Warn,
                "UpdateInstaller: download failed — " + core::escapeControlBytes(response.error));
        reason = emptyReply();
    } else if (!success) {
        // An error page is no package: it is neither kept nor installed.
        reason = tr("Грешка при изтегляне на инсталатора (HTTP %1).").arg(response.status);
    } else if (!stoppedByFile && file.size() == 0) {
        reason = emptyReply();
    } else if (stoppedByFile || !file.commit()) {
        logLine(LogLevel::Warn,
                std::string("UpdateInstaller: download refused — ") + problemLog(file.problem()));
        reason = problemText(file, maxBytes);
    }
    if (!reason.isEmpty()) {
        post([this, reason] { finishWithFailure(reason); });
        return;
    }
    if (file.path() != target) {
        logLine(LogLevel::Warn, "UpdateInstaller: " + core::escapeControlBytes(target) +
                                    " was taken; saved as " + core::escapeControlBytes(file.path()));
    }
    logLine(LogLevel::Info, "UpdateInstaller: downloaded " + std::to_string(file.size()) + " bytes");
    post([this, path = QString::fromStdString(file.path())] { handOff(path); });
}

void UpdateInstaller::post(std::function<void()> step) {
    QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

void UpdateInstaller::finishWithFailure(const QString& reason) {
    busy_ = false;
    emit failed(reason);
}

void UpdateInstaller::handOff(const QString& path) {
    busy_ = false;
    emit progress(100, 100);
    // Without the prompt program the installation would fail unseen after
    // the agent has quit.
    bool started = false;
    if (QStandardPaths::findExecutable(QStringLiteral("pkexec")).isEmpty()) {
        logLine(LogLevel::Warn, "UpdateInstaller: pkexec not found");
    } else {
        logLine(LogLevel::Info, "UpdateInstaller: launching pkexec apt-get install -y --no-remove " +
                                    core::escapeControlBytes(path.toStdString()));
        started = PackageShell::startDetached(PackageShell::installArguments(path, restart_));
    }
    if (started) {
        logLine(LogLevel::Info, "UpdateInstaller: handed off to OS installer");
        emit launched();
    } else {
        emit failed(tr("Не може да се стартира инсталатора. Файлът е изтеглен в: ") + path);
    }
}

}  // namespace velk::agent
