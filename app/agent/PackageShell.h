#pragma once

#include <QString>
#include <QStringList>

namespace velk::agent {

// How the agent comes back after a change of its package: the program to
// start and the process that has to end first, since a second agent beside
// the old one would find its instance lock and give up.
struct AgentRestart {
    QString program;
    qint64 oldPid = 0;

    // The packaged agent, once this process has ended.
    static AgentRestart afterThisProcess();
};

// Changes of the installed package run as root behind the desktop's password
// prompt (pkexec), in a shell detached from the agent, which quits meanwhile.
// Each shell starts the agent again ("--silent") whenever the agent is still
// installed afterwards, so that a refused password or a failed change never
// leaves the user without it. The shell gets the program, the old process
// and the package as arguments, never inside its command text.
class PackageShell {
public:
    // Where the package puts the agent's link.
    static constexpr const char* kInstalledProgram = "/usr/bin/VezoRodarC";

    // Installs the package file (an absolute path) without removing any
    // other package, removes the file, and starts the agent again, whether
    // the installation succeeded, failed or was cancelled.
    static QStringList installArguments(const QString& packagePath, const AgentRestart& restart);
    // Removes the package; when that succeeds, the given files (the user's
    // own entries, which the package manager cannot reach); otherwise the
    // agent is started again.
    static QStringList removalArguments(const QString& package, const QStringList& userEntries,
                                        const AgentRestart& restart);
    // The removal's command text: package is a plain package name; the user
    // entries are quoted in it.
    static QString removalCommand(const QString& package, const QStringList& userEntries);

    // Runs /bin/sh with the arguments, detached. False when it cannot start.
    static bool startDetached(const QStringList& arguments);
};

}  // namespace velk::agent
