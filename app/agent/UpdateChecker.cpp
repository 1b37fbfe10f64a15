#include "agent/UpdateChecker.h"

#include <utility>

#include "agent/VelkCloudClient.h"
#include "common/Logger.h"
#include "common/TextUtils.h"

namespace velk::agent {

namespace {

using core::LogLevel;
using core::logLine;

}  // namespace

UpdateChecker::UpdateChecker(const QString& baseUrl, QObject* parent) : QObject(parent), baseUrl_(baseUrl) {
    connect(&timer_, &QTimer::timeout, this, &UpdateChecker::onTick);
    timer_.setInterval(kIntervalMs);
}

UpdateChecker::~UpdateChecker() {
    stopping_.store(true);
    timer_.stop();
    if (client_) {
        client_->cancel();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    // A result the worker posted is still queued; QObject's destructor
    // removes it with the checker's other posted events.
}

bool UpdateChecker::isNewerVersion(std::string_view latestVersion, const core::AgentVersion& current) {
    const auto version = core::parseVersion(latestVersion);
    return version && *version > current;
}

void UpdateChecker::start() {
    if (baseUrl_.isEmpty()) {
        logLine(LogLevel::Info, "UpdateChecker: disabled (no velkCloudBaseUrl)");
        return;
    }
    if (timer_.isActive()) {
        return;
    }
    // No check can be running with a client: none was made before.
    client_ = VelkCloudClient::create(baseUrl_.toStdString());
    timer_.start();
    QTimer::singleShot(kFirstCheckMs, this, &UpdateChecker::onTick);
    logLine(LogLevel::Info, "UpdateChecker: started polling " + baseUrl_.toStdString() +
                                " (interval=" + std::to_string(kIntervalMs / 1000) + "s)");
}

void UpdateChecker::onTick() {
    if (busy_.exchange(true)) {
        return;  // a check is running
    }
    // The last check has posted its result or ended: its thread is done or
    // about to be.
    if (worker_.joinable()) {
        worker_.join();
    }
    worker_ = std::thread([this, client = client_.get()] { runCheck(client); });
}

void UpdateChecker::runCheck(VelkCloudClient* client) {
    if (stopping_.load() || client == nullptr) {
        busy_.store(false);
        return;
    }
    const AgentVersionInfo info = client->checkVersion();
    if (stopping_.load()) {
        busy_.store(false);
        return;
    }
    bool newer = false;
    QString version;
    QString url;
    if (info.ok) {
        newer = isNewerVersion(info.latestVersion, core::currentVersion());
        version = QString::fromStdString(info.latestVersion);
        url = QString::fromStdString(platformDownloadUrl(info));
    }
    QMetaObject::invokeMethod(
        this,
        [this, newer, version = std::move(version), url = std::move(url)] {
            applyResult(newer, version, url);
        },
        Qt::QueuedConnection);
}

void UpdateChecker::applyResult(bool newer, const QString& version, const QString& url) {
    if (newer) {
        latestVersion_ = version;
        downloadUrl_ = url;
        logLine(LogLevel::Info, "UpdateChecker: new version " +
                                    core::escapeControlBytes(version.toStdString()) + " available (current " +
                                    core::versionString() + ")");
        emit updateAvailable(version, url);
    }
    emit checkCompleted();
    busy_.store(false);
}

}  // namespace velk::agent
