#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <thread>

#include "agent/PackageShell.h"

namespace velk::agent {

// Removes the installed agent: finds the Debian package "vezorodar" with
// dpkg-query on a worker thread and starts the removal detached, behind the
// desktop's administrator prompt (pkexec). The user's own entries (start with
// the desktop, the URL scheme), which the package manager cannot reach, go
// only once the removal has succeeded; when it fails or is cancelled, the
// agent is started again. The signals come on the uninstaller's (GUI) thread;
// destroying it joins its thread.
class Uninstaller : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kPackage = "vezorodar";

    explicit Uninstaller(QObject* parent = nullptr);
    Uninstaller(AgentRestart restart, QObject* parent = nullptr);
    ~Uninstaller() override;
    Uninstaller(const Uninstaller&) = delete;
    Uninstaller& operator=(const Uninstaller&) = delete;

    // The shell command of the removal: the package removed without
    // questions (apt-get aborts without a terminal otherwise), then, only
    // when that succeeded, the given files (each quoted for the shell);
    // otherwise the agent started again.
    static QString removalCommand(const QStringList& userEntries);

signals:
    void launched();
    void failed(const QString& reason);

public slots:
    // Returns at once; the outcome comes as launched or failed.
    void start();

private:
    void lookUpAndLaunch(const QStringList& userEntries);
    void post(std::function<void()> step);

    bool busy_ = false;  // GUI thread only
    AgentRestart restart_;
    std::thread worker_;
};

}  // namespace velk::agent
