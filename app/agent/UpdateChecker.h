#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>
#include <string_view>
#include <thread>

#include "common/AgentVersion.h"

namespace velk::agent {

class VelkCloudClient;

// Asks the maker's cloud, 30 s after start() and then every six hours, for
// the latest agent version, on a worker thread, and announces one newer than
// the running agent with its download address. The signals come on the
// checker's (GUI) thread. Destroying the checker cancels a running check and
// joins its thread; its result is dropped.
class UpdateChecker : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 21'600'000;
    static constexpr int kFirstCheckMs = 30'000;

    explicit UpdateChecker(const QString& baseUrl, QObject* parent = nullptr);
    ~UpdateChecker() override;
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    // Begins polling; does nothing without a base URL or when already polling.
    void start();

    // Whether latestVersion is a version (three or four numbers) above
    // current; a fourth number does not count.
    static bool isNewerVersion(std::string_view latestVersion, const core::AgentVersion& current);

    // What was last announced.
    const QString& latestVersion() const { return latestVersion_; }
    const QString& downloadUrl() const { return downloadUrl_; }

signals:
    void updateAvailable(const QString& version, const QString& downloadUrl);
    void checkCompleted();

public slots:
    // Starts one check unless one is running.
    void onTick();

private:
    void runCheck(VelkCloudClient* client);
    void applyResult(bool newer, const QString& version, const QString& url);

    QString baseUrl_;
    std::unique_ptr<VelkCloudClient> client_;
    QTimer timer_;
    QString latestVersion_;
    QString downloadUrl_;
    std::atomic<bool> busy_{false};
    std::atomic<bool> stopping_{false};
    std::thread worker_;  // GUI thread only; joined before the next check and at destruction
};

}  // namespace velk::agent
