#include "agent/DesktopStartup.h"

#include <QApplication>
#include <QSystemTrayIcon>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "agent/AgentRuntime.h"
#include "agent/ApplicationLook.h"
#include "agent/QtMessageHandler.h"
#include "agent/TerminationSignals.h"
#include "agent/TestSeams.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "platform/AppPaths.h"
#include "platform/SingleInstance.h"

namespace velk::agent {

namespace {

using core::LogLevel;
using core::logLine;

void openAgentLog() {
    const std::string folder = platform::logsDir();
    // Without the folder the log still goes to standard error.
    platform::createPrivateFolder(folder);
    if (!folder.empty()) {
        core::openLogFile(platform::joinPath(folder, "VezoRodarC.log"));
    }
    logLine(LogLevel::Info, "VezoRodarC starting");
    installQtMessageHandler();
}

std::vector<std::string> argumentsAfterProgram(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    return args;
}

// On a desktop without a tray the running agent has no icon to click, so a
// start by hand asks it for its window. Links and the autostart entry never
// pop it up.
void askRunningAgentForWindow(const std::string& guardName, const std::vector<std::string>& args) {
    if (QSystemTrayIcon::isSystemTrayAvailable() || !shouldAskForWindow(args)) {
        return;
    }
    platform::SingleInstance::sendMessage(guardName, "show");
}

}  // namespace

int runDesktopAgent(int& argc, char** argv) {
    const ApiPortChoice port = apiPortFromEnvironment();
    if (!port.valid) {
        // Refused rather than falling back to 5123, where a developer's own
        // agent runs. The log is not open yet.
        std::cerr << "VezoRodarC: VELK_TEST_PORT must be a port number from 1 to 65535, not \""
                  << core::escapeControlBytes(port.rawValue) << "\"" << std::endl;
        return 2;
    }

    QApplication app(argc, argv);
    configureApplication(app);

    const std::string guardName = platform::SingleInstance::nameForPort(port.port);
    platform::SingleInstance guard(guardName);
    if (!guard.tryAcquire()) {
        askRunningAgentForWindow(guardName, argumentsAfterProgram(argc, argv));
        return 0;  // another agent runs; nothing is written
    }

    openAgentLog();
    logTestSeams(port);
    const TerminationSignals terminationSignals;

    try {
        AgentRuntime runtime(port.port, &guard);
        runtime.showAtLaunch(argumentsAfterProgram(argc, argv));
        const int exitCode = QApplication::exec();
        runtime.shutDown();
        return exitCode;
    } catch (const std::exception& e) {
        logLine(LogLevel::Error,
                std::string("VezoRodarC: cannot start: ") + core::escapeControlBytes(e.what()));
        core::flushLog();
        return 1;
    }
}

}  // namespace velk::agent
