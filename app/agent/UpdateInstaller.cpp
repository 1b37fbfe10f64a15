#include "agent/UpdateInstaller.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/HttpClient.h"
#include "platform/AtomicFile.h"

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
    options.maxBodyBytes = UpdateInstaller::kMaxPackageBytes;
    return HttpClient::create(std::move(options));
}

bool keptInFileName(const QChar c) {
    const QChar::Category category = c.category();
    return c != QLatin1Char('/') && category != QChar::Other_Control && category != QChar::Other_Format;
}

bool isOutOfSpace(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

}  // namespace

UpdateInstaller::UpdateInstaller(QObject* parent) : QObject(parent) {}

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
    QString name;
    for (const QChar c : decoded) {
        if (keptInFileName(c)) {
            name.append(c);
        }
    }
    // Cut from the front, whole characters only, so the extension stays.
    while (name.toUtf8().size() > kMaxFileNameBytes) {
        name.remove(0, name.at(0).isHighSurrogate() && name.size() > 1 ? 2 : 1);
    }
    if (name.trimmed().isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        return QString::fromLatin1(kDefaultFileName);
    }
    return name;
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
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString target = temp + QLatin1Char('/') + stamp + QLatin1Char('-') + fileNameFor(downloadUrl);
    http_ = downloadClient();
    worker_ = std::thread(
        [this, url = downloadUrl.toStdString(), target = target.toStdString()] { download(url, target); });
}

void UpdateInstaller::download(const std::string& url, const std::string& target) {
    logLine(LogLevel::Info, "UpdateInstaller: downloading " + core::escapeControlBytes(url) + " -> " +
                                core::escapeControlBytes(target));
    const auto response = http_->get(url, {});
    if (stopping_.load()) {
        return;
    }
    if (!response.error.empty()) {
        logLine(LogLevel::Warn,
                "UpdateInstaller: download failed — " + core::escapeControlBytes(response.error));
        post([this] { finishWithFailure(tr("Грешка при изтегляне на инсталатора (празен отговор).")); });
        return;
    }
    // An error page is no package: it is neither saved nor handed on.
    if (response.status < 200 || response.status > 299) {
        const int status = response.status;
        post([this, status] {
            finishWithFailure(tr("Грешка при изтегляне на инсталатора (HTTP %1).").arg(status));
        });
        return;
    }
    if (response.body.empty()) {
        post([this] { finishWithFailure(tr("Грешка при изтегляне на инсталатора (празен отговор).")); });
        return;
    }
    // Written whole or not at all: a failed write leaves no part behind.
    const int rc = platform::writeFileAtomically(target, response.body);
    if (rc != 0) {
        if (isOutOfSpace(rc)) {
            post([this] {
                finishWithFailure(tr("Не може да се запише целия файл (ниска свободна памет?)."));
            });
        } else {
            const QString reason = QString::fromLocal8Bit(std::strerror(rc));
            post([this, reason] { finishWithFailure(tr("Не може да се запази инсталатора: ") + reason); });
        }
        return;
    }
    if (stopping_.load()) {
        std::remove(target.c_str());  // nobody is left to hand it on
        return;
    }
    logLine(LogLevel::Info, "UpdateInstaller: downloaded " + std::to_string(response.body.size()) + " bytes");
    post([this, path = QString::fromStdString(target)] { handOff(path); });
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
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        logLine(LogLevel::Info, "UpdateInstaller: handed off to OS installer");
        emit launched();
    } else {
        emit failed(tr("Не може да се стартира инсталатора. Файлът е изтеглен в: ") + path);
    }
}

}  // namespace velk::agent
