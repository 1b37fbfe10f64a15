#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "agent/PackageShell.h"

namespace velk::core::infra::http {
class HttpClient;
}

namespace velk::agent {

// Downloads the Debian package of a newer version over https into the
// temporary folder on a worker thread, writing it as it arrives, and installs
// it through the package shell, which starts the agent again afterwards. A
// download that is not https (also after a redirect), not a Debian package or
// larger than the limit is refused and leaves no file. The temporary folder
// may be shared: a name someone else took first is left alone and the
// package saved under another, and each download first removes the partial
// files that downloads killed before it left there. The signals come on
// the installer's (GUI) thread. Destroying the installer cancels a running
// download and joins its thread: no file is left and no signal follows.
class UpdateInstaller : public QObject {
    Q_OBJECT

public:
    // The name a download gets when its address names no file.
    static constexpr const char* kDefaultFileName = "VezoRodarC-update.deb";
    // Larger than any package the maker publishes.
    static constexpr std::int64_t kMaxPackageBytes = 512LL * 1024 * 1024;

    explicit UpdateInstaller(QObject* parent = nullptr);
    UpdateInstaller(AgentRestart restart, QObject* parent = nullptr);
    ~UpdateInstaller() override;
    UpdateInstaller(const UpdateInstaller&) = delete;
    UpdateInstaller& operator=(const UpdateInstaller&) = delete;

    // The file name for a download address: the last segment of its path,
    // percent-decoded, without control or format characters or slashes,
    // every character other than a letter, a digit, '.', '-', '_' or '+'
    // made '_', cut to 200 bytes from the front (the extension stays); the
    // default name when nothing visible is left.
    static QString fileNameFor(const QString& downloadUrl);

    // For tests: a smaller limit, so a refusal needs no large download.
    void setMaxPackageBytes(std::int64_t bytes) { maxPackageBytes_ = bytes; }
    // For tests: the clock the file name's time stamp is read from.
    void setClock(std::function<QDateTime()> now) { now_ = std::move(now); }

signals:
    void progress(qlonglong received, qlonglong total);
    void launched();
    void failed(const QString& reason);

public slots:
    // Returns at once; the outcome comes as launched or failed.
    void start(const QString& downloadUrl);

private:
    void download(const std::string& url, const std::string& target, std::int64_t maxBytes);
    void handOff(const QString& path);
    void finishWithFailure(const QString& reason);
    void post(std::function<void()> step);

    bool busy_ = false;  // GUI thread only
    AgentRestart restart_;
    std::int64_t maxPackageBytes_ = kMaxPackageBytes;
    std::function<QDateTime()> now_ = &QDateTime::currentDateTimeUtc;
    std::atomic<bool> stopping_{false};
    std::unique_ptr<core::infra::http::HttpClient> http_;
    std::thread worker_;
};

}  // namespace velk::agent
