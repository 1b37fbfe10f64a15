#include "agent/PackageShell.h"

#include <QCoreApplication>
#include <QProcess>

namespace velk::agent {

namespace {

// $1 is the program, $2 the old process. The agent quits half a second after
// the shell has started; the bound only keeps a hung agent from keeping the
// shell forever (600 turns of 0.2 s).
const QString kRestart = QStringLiteral(
    "i=0; while kill -0 \"$2\" 2>/dev/null && [ \"$i\" -lt 600 ]; do sleep 0.2; i=$((i+1)); done; "
    "exec \"$1\" --silent");

// The shell's own name ($0), as process lists show it.
const QString kShellName = QStringLiteral("vezorodar-package");

QString shellQuoted(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

QStringList shellArguments(const QString& command, const AgentRestart& restart, const QStringList& more) {
    QStringList arguments = {QStringLiteral("-c"), command, kShellName, restart.program,
                             QString::number(restart.oldPid)};
    arguments.append(more);
    return arguments;
}

}  // namespace

AgentRestart AgentRestart::afterThisProcess() {
    return {QString::fromLatin1(PackageShell::kInstalledProgram), QCoreApplication::applicationPid()};
}

QStringList PackageShell::installArguments(const QString& packagePath, const AgentRestart& restart) {
    // "$3" is the package: a path, so apt-get takes it for a file, not a name.
    const QString command =
        QStringLiteral("pkexec apt-get install -y --no-remove \"$3\"; rm -f \"$3\"; ") + kRestart;
    return shellArguments(command, restart, {packagePath});
}

QString PackageShell::removalCommand(const QString& package, const QStringList& userEntries) {
    QStringList quoted;
    for (const QString& entry : userEntries) {
        if (!entry.isEmpty()) {
            quoted.append(shellQuoted(entry));
        }
    }
    const QString onSuccess =
        quoted.isEmpty() ? QStringLiteral(":") : QStringLiteral("rm -f ") + quoted.join(QLatin1Char(' '));
    return QStringLiteral("if pkexec apt-get remove -y ") + package + QStringLiteral("; then ") + onSuccess +
           QStringLiteral("; else ") + kRestart + QStringLiteral("; fi");
}

QStringList PackageShell::removalArguments(const QString& package, const QStringList& userEntries,
                                           const AgentRestart& restart) {
    return shellArguments(removalCommand(package, userEntries), restart, {});
}

bool PackageShell::startDetached(const QStringList& arguments) {
    return QProcess::startDetached(QStringLiteral("/bin/sh"), arguments);
}

}  // namespace velk::agent
